// Two-bit ADPCM across lost frames (see adpcm2_recovery.h).
#include "adpcm2_recovery.h"

namespace zelk::rtp {
namespace {

constexpr int BLOCK = ZELK_VOICE_MIN_SAMPLES;

void EncodeRecent(VoiceCodecState& decoder, const PlcState& plc, int back) noexcept {
  int16_t pcm[BLOCK];
  PlcRecent(plc, back, BLOCK, pcm);
  uint16_t frame[2 + BLOCK / 8];
  ZELK_VOICE_EncodeFrame(&decoder, pcm, frame, BLOCK, ADPCM_2BIT);
}

}  // namespace

void Adpcm2RecoveryConceal(VoiceCodecState& decoder, const PlcState& plc, int n,
                           int32_t& pending) noexcept {
  int32_t left = pending + n;
  // The oldest pending sample lies `left` samples before the end of the
  // history; left <= 79 + 480 < PLC_HISTORY + BLOCK, and a gap longer than
  // the history feeds only its last PLC_HISTORY samples.
  while (left >= BLOCK) {
    const int back = left > PLC_HISTORY ? PLC_HISTORY - (PLC_HISTORY % BLOCK) : left;
    EncodeRecent(decoder, plc, back);
    left = back - BLOCK;
  }
  pending = left;
}

void Adpcm2RecoveryFinish(VoiceCodecState& decoder, const PlcState& plc,
                          int32_t& pending) noexcept {
  if (pending > 0) EncodeRecent(decoder, plc, BLOCK);
  pending = 0;
}

}  // namespace zelk::rtp
