#include "codec/adpcm2/adpcm2.h"

#include "frame/voice_frame.h"

namespace zelk {

void Adpcm2ResetState(void*) noexcept {}

void Adpcm2EncodeFrame(void*, const int16_t*, uint16_t* frame, int n) noexcept {
  uint8_t codes[FRAME_MAX_SAMPLES] = {};
  FramePackAdpcm2(codes, n, frame);
}

void Adpcm2DecodeFrame(void*, const uint16_t* frame, int16_t* pcm) noexcept {
  for (int i = 0; i < 8 * FrameLengthByte(frame); ++i) pcm[i] = 0;
}

}  // namespace zelk
