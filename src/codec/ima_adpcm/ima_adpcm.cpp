#include "codec/ima_adpcm/ima_adpcm.h"

#include "frame/voice_frame.h"

namespace zelk {

void ImaAdpcmResetState(void*) noexcept {}

void ImaAdpcmEncodeFrame(void*, const int16_t*, int n, uint16_t* frame) noexcept {
  uint8_t codes[FRAME_MAX_SAMPLES / 2] = {};
  FramePackIma(codes, n, frame);
}

void ImaAdpcmDecodeFrame(void*, const uint16_t* frame, int16_t* pcm) noexcept {
  for (int i = 0; i < 4 * FrameLengthByte(frame); ++i) pcm[i] = 0;
}

}  // namespace zelk
