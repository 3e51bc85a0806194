// Two-bit adaptive ADPCM, 16 kbit/s at 8 kHz: one 2-bit code per sample.
//
// A backward-adaptive coder: a two-pole, six-zero predictor; a two-level log
// quantiser whose step follows a scale factor mixed from a fast and a slow
// estimate under a speed-control parameter; and a tone detector that clears
// the predictor. Encoder and decoder run one and the same update from the
// codes, so a decoder fed an encoder's codes from the reset state reproduces
// the encoder's reconstructed signal exactly. The arithmetic (16-bit wraps,
// arithmetic shifts, rounding directions) is part of the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace zelk {

// The record of one stream in one direction, at the start of the caller's
// state block. Its layout is part of the caller's allocation: 23 int16 fields,
// two spare bytes that the coder never reads or writes, then yl at offset 48.
struct Adpcm2State {
  int16_t sr1;  // reconstructed signal, previous sample
  int16_t sr2;  // reconstructed signal, two samples back
  int16_t a1;   // pole coefficients, Q14
  int16_t a2;
  int16_t b1;  // zero coefficients, Q14; b1 weights dq1 ... b6 weights dq6
  int16_t b2;
  int16_t b3;
  int16_t b4;
  int16_t b5;
  int16_t b6;
  int16_t dq6;  // quantised differences, oldest (six samples back) first
  int16_t dq5;
  int16_t dq4;
  int16_t dq3;
  int16_t dq2;
  int16_t dq1;
  int16_t dms;  // short-term average of 512 * F
  int16_t dml;  // long-term average of 2048 * F
  int16_t ap;   // speed control: 0 slow .. 512 fast
  int16_t yu;   // fast scale factor, Q9 log2 of the quantiser step
  int16_t td;   // tone detected: 0 or 1
  int16_t p1;   // partial reconstructed signal (zero-section estimate + dq), previous
  int16_t p2;   // the same, two samples back
  uint8_t spare[2];
  int32_t yl;  // slow scale factor, 64 times finer than yu
};

static_assert(std::is_trivially_copyable_v<Adpcm2State> && std::is_standard_layout_v<Adpcm2State>);
static_assert(sizeof(Adpcm2State) == 52);
static_assert(offsetof(Adpcm2State, dq6) == 20 && offsetof(Adpcm2State, dq1) == 30);
static_assert(offsetof(Adpcm2State, p2) == 44 && offsetof(Adpcm2State, spare) == 46);
static_assert(offsetof(Adpcm2State, yl) == 48);

// Byte ranges of the record that the coder loads and stores; bytes 46..47 lie
// between them and are never touched.
inline constexpr size_t ADPCM2_FIELDS16_BYTES = 46;
inline constexpr size_t ADPCM2_YL_OFFSET = 48;

// Writes the start-of-stream values into every field of the record at the
// start of stateBlock; the spare bytes keep whatever they held.
void Adpcm2Reset(void* stateBlock) noexcept;

// Encodes n samples (n taken as a signed 16-bit number; n <= 0 does nothing)
// into one code 0..3 per byte, updating the record in stateBlock.
void Adpcm2EncodeBlock(const int16_t* pcm, uint8_t* codes, int32_t n, void* stateBlock) noexcept;

// Decodes n codes (only their low two bits count) into n samples.
void Adpcm2DecodeBlock(const uint8_t* codes, int16_t* pcm, int32_t n, void* stateBlock) noexcept;

// The same computation in its plainest form: the predictor in plain
// integers and every wrap and test of the step as written, whatever the
// record holds. The two functions above keep the predictor in SSE2 registers
// where the CPU has them and take shortcuts that the ranges of a record
// reached by coding allow; they must give these functions' codes, samples and
// records to the bit, which the tests check.
void Adpcm2EncodeBlockReference(const int16_t* pcm, uint8_t* codes, int32_t n,
                                void* stateBlock) noexcept;
void Adpcm2DecodeBlockReference(const uint8_t* codes, int16_t* pcm, int32_t n,
                                void* stateBlock) noexcept;

// One frame of n samples, 1 <= n <= 480 (the caller passes 80..480 in steps of
// 80): header, length n / 8 and n / 8 payload words.
void Adpcm2EncodeFrame(void* stateBlock, const int16_t* pcm, uint16_t* frame, int n) noexcept;

// One frame whose length byte (at most 60) gives 8 samples per word.
void Adpcm2DecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept;

}  // namespace zelk
