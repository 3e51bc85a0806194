// IMA ADPCM, 4 bits per sample (codec type 3).
//
// A code is a sign (bit 3, set when the sample lies below the prediction) and
// a magnitude in units of one step, half a step and a quarter step (bits 2..0).
// Codes travel two to a byte, the earlier sample in the high nibble; a block
// of n samples takes ceil(n / 2) bytes, an odd block ending in a low nibble 0.
// Every block call starts a new byte.
//
// The stream state is an ImaAdpcmState at the start of the caller's state
// block: the predictor (int16) at byte 0 and the step index (int8) at byte 2.
// The block functions read those three bytes on entry and write them back on
// exit, and touch nothing else of the block (not even byte 3, the padding).
// A never-cleared block may hold any step index; it is clamped to 0..88 when
// loaded, so no table is ever read out of range.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelk {

struct ImaAdpcmState {
  int16_t predictor;  // the last reconstructed sample
  int8_t stepIndex;   // index into IMA_STEP_TABLE for the next sample, 0..88
};
static_assert(offsetof(ImaAdpcmState, predictor) == 0 && offsetof(ImaAdpcmState, stepIndex) == 2);

inline constexpr int IMA_STEP_COUNT = 89;
inline constexpr int IMA_MAX_STEP_INDEX = IMA_STEP_COUNT - 1;

// How the step index moves after each code (the sign bit does not matter).
inline constexpr std::array<int32_t, 16> IMA_INDEX_TABLE = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                            -1, -1, -1, -1, 2, 4, 6, 8};

// Quantiser step for every step index, roughly 10% apart.
inline constexpr std::array<int32_t, IMA_STEP_COUNT> IMA_STEP_TABLE = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// The state as stored in a caller's block (any object type: bytes are copied,
// never accessed through a cast), with the step index clamped to 0..88.
ImaAdpcmState ImaAdpcmLoad(const void* stateBlock) noexcept;
// Writes bytes 0..2 of the block.
void ImaAdpcmStore(void* stateBlock, ImaAdpcmState state) noexcept;

// Starts a stream: predictor 0, step index 0.
void ImaAdpcmClear(void* stateBlock) noexcept;

// n samples into ceil(n / 2) code bytes; n <= 0 does nothing.
void ImaAdpcmEncode(const int16_t* pcm, uint8_t* codeBytes, int n, void* stateBlock) noexcept;

// ceil(n / 2) code bytes into n samples; n <= 0 does nothing. For odd n the
// low nibble of the last byte is not used.
void ImaAdpcmDecode(const uint8_t* codeBytes, int16_t* pcm, int n, void* stateBlock) noexcept;

// One frame of n samples (80..480 in steps of 80, validated by the caller):
// payload of n / 4 words.
void ImaAdpcmEncodeFrame(void* stateBlock, const int16_t* pcm, int n, uint16_t* frame) noexcept;

// A validated frame into 4 * L samples, L being the frame's length byte.
void ImaAdpcmDecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept;

}  // namespace zelk
