// IMA ADPCM, 4 bits per sample. (Placeholder until the codec lands.)
#pragma once

#include <cstdint>

namespace zelk {

void ImaAdpcmResetState(void* stateBlock) noexcept;
void ImaAdpcmEncodeFrame(void* stateBlock, const int16_t* pcm, int n, uint16_t* frame) noexcept;
void ImaAdpcmDecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept;

}  // namespace zelk
