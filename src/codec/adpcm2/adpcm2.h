// Two-bit adaptive ADPCM, 16 kbit/s. (Placeholder until the codec lands.)
#pragma once

#include <cstdint>

namespace zelk {

void Adpcm2ResetState(void* stateBlock) noexcept;
void Adpcm2EncodeFrame(void* stateBlock, const int16_t* pcm, uint16_t* frame, int n) noexcept;
void Adpcm2DecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept;

}  // namespace zelk
