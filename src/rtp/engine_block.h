// What the component knows of the engine: its codec types and frame sizes,
// and the documented layout of its state block, read and written in host
// byte order through memcpy (the block is caller memory of no declared type).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zelk_voice_rtp.h"

namespace zelk::rtp {

constexpr bool IsCodecType(int32_t t) noexcept { return t >= G711_ALAW && t <= ADPCM_2BIT; }

constexpr bool IsG711(int32_t t) noexcept { return t == G711_ALAW || t == G711_ULAW; }

// The block sizes the engine's frames take: 80, 160, .., 480 samples.
constexpr bool IsFrameSampleCount(int32_t n) noexcept {
  return n >= ZELK_VOICE_MIN_SAMPLES && n <= ZELK_VOICE_MAX_SAMPLES &&
         n % ZELK_VOICE_SAMPLE_STEP == 0;
}

// Samples per 16-bit payload word of a VoiceFrame.
constexpr int32_t SamplesPerFrameWord(int32_t t) noexcept {
  return t == IMA_ADPCM ? 4 : (t == ADPCM_2BIT ? 8 : 2);
}

// A VoiceFrame: header word 0x0100 (only bits 8-9 count), length word L (only
// its low byte counts), L payload words.
constexpr size_t FRAME_HEADER_BYTES = 4;
constexpr uint16_t FRAME_HEADER_WORD = 0x0100;
constexpr uint16_t FRAME_HEADER_MASK = 0x0300;

// IMA ADPCM: predictor (int16) at byte 0, step index (int8) at byte 2.
constexpr size_t IMA_PREDICTOR_AT = 0;
constexpr size_t IMA_STEP_INDEX_AT = 2;
constexpr int32_t IMA_STEP_INDEX_MAX = 88;

// Two-bit coder: 23 int16 fields from byte 0, two spare bytes, yl (int32) at 48.
constexpr size_t ADPCM2_FIELDS16 = 23;
constexpr size_t ADPCM2_YL_AT = 48;
static_assert(ADPCM2_FIELDS16 * 2 + 2 == ADPCM2_YL_AT && ADPCM2_YL_AT + 4 == ZELK_VOICE_STATE_SIZE);

inline int16_t LoadInt16(const void* block, size_t at) noexcept {
  int16_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(block) + at, sizeof v);
  return v;
}

inline void StoreInt16(void* block, size_t at, int16_t v) noexcept {
  std::memcpy(static_cast<uint8_t*>(block) + at, &v, sizeof v);
}

inline int32_t LoadInt32(const void* block, size_t at) noexcept {
  int32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(block) + at, sizeof v);
  return v;
}

inline void StoreInt32(void* block, size_t at, int32_t v) noexcept {
  std::memcpy(static_cast<uint8_t*>(block) + at, &v, sizeof v);
}

inline int32_t LoadImaStepIndex(const void* block) noexcept {
  return static_cast<int8_t>(static_cast<const uint8_t*>(block)[IMA_STEP_INDEX_AT]);
}

inline void StoreImaStepIndex(void* block, int32_t stepIndex) noexcept {
  static_cast<uint8_t*>(block)[IMA_STEP_INDEX_AT] = static_cast<uint8_t>(stepIndex);
}

constexpr bool IsImaStepIndex(int32_t i) noexcept { return i >= 0 && i <= IMA_STEP_INDEX_MAX; }

// A little-endian 16-bit number from two bytes, and back.
inline uint16_t LoadLe16(const uint8_t* p) noexcept {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline void StoreLe16(uint8_t* p, uint16_t v) noexcept {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// The engine's frame words are little-endian on every host (the state block,
// in contrast, is host order): a word's value from its two bytes, and back.
inline uint16_t LoadFrameWord(const uint16_t* word) noexcept {
  uint8_t b[2];
  std::memcpy(b, word, 2);
  return LoadLe16(b);
}

inline void StoreFrameWord(uint16_t* word, uint16_t v) noexcept {
  uint8_t b[2];
  StoreLe16(b, v);
  std::memcpy(word, b, 2);
}

// The header and length words of a frame of `words` payload words.
inline void WriteFrameHeader(uint16_t* frame, size_t words) noexcept {
  StoreFrameWord(frame, FRAME_HEADER_WORD);
  StoreFrameWord(frame + 1, static_cast<uint16_t>(words));
}

// The samples that a frame of at least frameBytes readable bytes carries for
// the codec, or 0 when it is not one of the codec's frames.
inline int32_t FrameSamples(int32_t codec, const uint16_t* frame, size_t frameBytes) noexcept {
  if (frameBytes < FRAME_HEADER_BYTES) return 0;
  if ((LoadFrameWord(frame) & FRAME_HEADER_MASK) != FRAME_HEADER_WORD) return 0;
  const size_t words = LoadFrameWord(frame + 1) & 0xFFu;
  if (frameBytes < FRAME_HEADER_BYTES + 2 * words) return 0;
  const int32_t n = static_cast<int32_t>(words) * SamplesPerFrameWord(codec);
  return IsFrameSampleCount(n) ? n : 0;
}

}  // namespace zelk::rtp
