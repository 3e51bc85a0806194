#include "frame/voice_frame.h"

#include <cstring>

namespace zelk {

// The IMA payload is defined on bytes, so it is copied byte for byte on every
// host; only the header and length words go through the word stores.
void FramePackIma(const uint8_t* codeBytes, int n, uint16_t* frame) noexcept {
  const int words = n / 4;
  FrameWriteHeader(frame, words);
  std::memcpy(frame + FRAME_PAYLOAD_OFFSET, codeBytes, static_cast<size_t>(words) * 2);
}

void FrameUnpackIma(const uint16_t* frame, uint8_t* codeBytes) noexcept {
  const int words = FrameLengthByte(frame);
  std::memcpy(codeBytes, frame + FRAME_PAYLOAD_OFFSET, static_cast<size_t>(words) * 2);
}

void FramePackAdpcm2(const uint8_t* codes, int n, uint16_t* frame) noexcept {
  const int words = n / 8;
  FrameWriteHeader(frame, words);
  for (int i = 0; i < words; ++i) {
    uint32_t w = 0;
    for (int k = 0; k < 8; ++k) w = (w << 2) | (codes[8 * i + k] & 3u);
    FrameStoreWord(frame + FRAME_PAYLOAD_OFFSET + i, static_cast<uint16_t>(w));
  }
}

void FrameUnpackAdpcm2(const uint16_t* frame, uint8_t* codes) noexcept {
  const int words = FrameLengthByte(frame);
  for (int i = 0; i < words; ++i) {
    const uint32_t w = FrameLoadWord(frame + FRAME_PAYLOAD_OFFSET + i);
    for (int k = 0; k < 8; ++k) codes[8 * i + k] = static_cast<uint8_t>((w >> (14 - 2 * k)) & 3u);
  }
}

}  // namespace zelk
