// VoiceFrame layout and the three payload packings.
//
// A frame is a run of 16-bit little-endian words on every host:
//
//   word 0       header, 0x0100 when written; a reader checks only bits 8-9 (01)
//   word 1       payload length L in words; a reader uses only the low byte
//   word 2..L+1  payload, the codes of the frame's samples in time order
//
// The packers write header, length and exactly L payload words; the unpackers
// trust a frame that the caller has already validated.
//
// The API hands frames over as uint16_t words, but what travels is bytes: a
// word's low byte comes first in memory whatever the host's order (PCM, in
// contrast, stays in host order). Every word of a frame is therefore read
// through FrameLoadWord and written through FrameStoreWord, which are plain
// loads and stores on a little-endian host and swap the two bytes on a
// big-endian one.
#pragma once

#include <bit>
#include <cstdint>

namespace zelk {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "frame words are stored for little- or big-endian hosts");

// The word whose two bytes are those of v in the other order.
constexpr uint16_t FrameSwapBytes(uint16_t v) noexcept {
  return static_cast<uint16_t>((v << 8) | (v >> 8));
}

// The value of a frame word from the little-endian bytes it lies in.
constexpr uint16_t FrameLoadWord(const uint16_t* word) noexcept {
  if constexpr (std::endian::native == std::endian::big) return FrameSwapBytes(*word);
  return *word;
}

// Stores value as a frame word, low byte first in memory.
constexpr void FrameStoreWord(uint16_t* word, uint16_t value) noexcept {
  if constexpr (std::endian::native == std::endian::big) value = FrameSwapBytes(value);
  *word = value;
}

inline constexpr uint16_t FRAME_HEADER = 0x0100;
inline constexpr uint16_t FRAME_HEADER_CHECK_MASK = 0x0300;
inline constexpr int FRAME_PAYLOAD_OFFSET = 2;  // words before the payload
inline constexpr int FRAME_MAX_SAMPLES = 480;
inline constexpr int FRAME_MAX_WORDS = FRAME_PAYLOAD_OFFSET + FRAME_MAX_SAMPLES / 2;

constexpr bool FrameHeaderValid(uint16_t header) noexcept {
  return (header & FRAME_HEADER_CHECK_MASK) == FRAME_HEADER;
}

// The payload length L: the low byte of word 1, the high byte ignored.
constexpr int FrameLengthByte(const uint16_t* frame) noexcept {
  return FrameLoadWord(frame + 1) & 0xFF;
}

// The header word's value, of which a reader checks bits 8-9.
constexpr uint16_t FrameHeaderWord(const uint16_t* frame) noexcept { return FrameLoadWord(frame); }

constexpr void FrameWriteHeader(uint16_t* frame, int payloadWords) noexcept {
  FrameStoreWord(frame, FRAME_HEADER);
  FrameStoreWord(frame + 1, static_cast<uint16_t>(payloadWords));
}

// G.711: two 8-bit codes per word, the earlier sample in the high byte.
//
//   word i:  | c[2i] (bits 15-8) | c[2i+1] (bits 7-0) |
//   bytes:   4+2i = c[2i+1], 5+2i = c[2i]
constexpr uint16_t FramePackG711Pair(uint32_t earlier, uint32_t later) noexcept {
  return static_cast<uint16_t>(((earlier & 0xFF) << 8) | (later & 0xFF));
}
// The G.711 coder packs and unpacks in the same vector loop that compresses
// and expands, so this pair (stored with FrameStoreWord) is the whole of its
// layout here.

// IMA ADPCM: defined on bytes. Payload byte j = c[2j] << 4 | c[2j+1], bytes in
// time order, so as a little-endian word i holds
//
//   | c[4i+2] 15-12 | c[4i+3] 11-8 | c[4i] 7-4 | c[4i+1] 3-0 |
//
// The encoder already delivers these bytes; packing copies them.
void FramePackIma(const uint8_t* codeBytes, int n, uint16_t* frame) noexcept;
void FrameUnpackIma(const uint16_t* frame, uint8_t* codeBytes) noexcept;

// Two-bit ADPCM: eight 2-bit codes per word, the earliest in the top bits.
//
//   word i:  | c[8i] 15-14 | c[8i+1] 13-12 | ... | c[8i+7] 1-0 |
//   bytes:   5+2i = c[8i..8i+3], 4+2i = c[8i+4..8i+7]
void FramePackAdpcm2(const uint8_t* codes, int n, uint16_t* frame) noexcept;
void FrameUnpackAdpcm2(const uint16_t* frame, uint8_t* codes) noexcept;

}  // namespace zelk
