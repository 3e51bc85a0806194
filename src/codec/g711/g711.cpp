#include "codec/g711/g711.h"

#include "codec/fixed_point.h"
#include "frame/voice_frame.h"

namespace zelk {
namespace {

template <uint8_t (*Compress)(int16_t)>
void CompressBlock(const int16_t* samples, uint16_t* codes, int32_t count) noexcept {
  const int n = LowSigned16(count);
  for (int i = 0; i < n; ++i) codes[i] = Compress(samples[i]);
}

void ExpandBlock(const std::array<int16_t, 256>& table, const uint16_t* codes, int16_t* samples,
                 int32_t count) noexcept {
  const int n = LowSigned16(count);
  for (int i = 0; i < n; ++i) samples[i] = table[codes[i]];
}

template <uint8_t (*Compress)(int16_t)>
void EncodePayload(const int16_t* pcm, int words, uint16_t* payload) noexcept {
  for (int i = 0; i < words; ++i) {
    payload[i] = FramePackG711Pair(Compress(pcm[2 * i]), Compress(pcm[2 * i + 1]));
  }
}

void DecodePayload(const std::array<int16_t, 256>& table, const uint16_t* payload, int words,
                   int16_t* pcm) noexcept {
  for (int i = 0; i < words; ++i) {
    const uint16_t w = payload[i];
    pcm[2 * i] = table[w >> 8];
    pcm[2 * i + 1] = table[w & 0xFF];
  }
}

}  // namespace

void G711AlawCompress(const int16_t* samples, uint16_t* codes, int32_t count) noexcept {
  CompressBlock<G711AlawCompressSample>(samples, codes, count);
}

void G711UlawCompress(const int16_t* samples, uint16_t* codes, int32_t count) noexcept {
  CompressBlock<G711UlawCompressSample>(samples, codes, count);
}

void G711AlawExpand(const uint16_t* codes, int16_t* samples, int32_t count) noexcept {
  ExpandBlock(G711_ALAW_EXPAND_TABLE, codes, samples, count);
}

void G711UlawExpand(const uint16_t* codes, int16_t* samples, int32_t count) noexcept {
  ExpandBlock(G711_ULAW_EXPAND_TABLE, codes, samples, count);
}

void G711EncodeFrame(const int16_t* pcm, int n, int codecType, uint16_t* frame) noexcept {
  const int words = n / 2;
  FrameWriteHeader(frame, words);
  uint16_t* payload = frame + FRAME_PAYLOAD_OFFSET;
  if (codecType == 1) {
    EncodePayload<G711AlawCompressSample>(pcm, words, payload);
  } else {
    EncodePayload<G711UlawCompressSample>(pcm, words, payload);
  }
}

void G711DecodeFrame(const uint16_t* frame, int16_t* pcm, int codecType) noexcept {
  const auto& table = codecType == 1 ? G711_ALAW_EXPAND_TABLE : G711_ULAW_EXPAND_TABLE;
  DecodePayload(table, frame + FRAME_PAYLOAD_OFFSET, FrameLengthByte(frame), pcm);
}

}  // namespace zelk
