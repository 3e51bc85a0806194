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

// The engine's frame words are little-endian on every host (the state block,
// in contrast, is host order): a word's value from its two bytes, and back.
inline uint16_t LoadFrameWord(const uint16_t* word) noexcept {
  uint8_t b[2];
  std::memcpy(b, word, 2);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

inline void StoreFrameWord(uint16_t* word, uint16_t v) noexcept {
  const uint8_t b[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
  std::memcpy(word, b, 2);
}

}  // namespace zelk::rtp
