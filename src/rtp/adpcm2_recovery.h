// Keeping a two-bit ADPCM decoder near its encoder across lost frames.
//
// The coder adapts backwards from what it decodes, and a decoder that simply
// skips a lost frame starts the next one with histories, scale factor and
// predictor from 20 ms earlier. Running the engine's own encoder over the
// concealment instead (encoder and decoder share one record) moves the
// decoder's record on as if the concealed signal had been sent: its
// histories end at the signal that was played, its scale factor follows the
// level. The encoder takes blocks of 80 samples; what is left of a gap
// below that is fed as the last 80 samples played.
#pragma once

#include <cstdint>

#include "plc.h"
#include "zelk_voice_engine.h"

namespace zelk::rtp {

// n samples were just concealed (and are in plc's history); pending counts
// the concealed samples not yet encoded, 0..79.
void Adpcm2RecoveryConceal(VoiceCodecState& decoder, const PlcState& plc, int n,
                           int32_t& pending) noexcept;

// A frame arrives after a gap: encodes what is still pending.
void Adpcm2RecoveryFinish(VoiceCodecState& decoder, const PlcState& plc, int32_t& pending) noexcept;

}  // namespace zelk::rtp
