// The two-bit side of payload_decoder: payloads repacked into VoiceFrames.
#include <zelk_voice_engine.h>

#include <cstddef>
#include <cstdint>
#include <vector>

long DecodeAdpcm2Payload(const std::vector<uint8_t>& p, int16_t* pcm) {
  static VoiceCodecState state;
  static bool reset = false;
  if (!reset) {
    ZELK_VOICE_DecReset(&state, ADPCM_2BIT);
    reset = true;
  }
  // Payload: four codes a byte, the earliest in the top bits. VoiceFrame: words
  // of eight codes, the earliest in the top bits of the word, stored little-endian.
  std::vector<uint16_t> frame(2 + p.size() / 2);
  frame[0] = 0x0100;
  frame[1] = static_cast<uint16_t>(p.size() / 2);
  for (size_t w = 0; w < p.size() / 2; ++w) {
    frame[2 + w] = static_cast<uint16_t>(p[2 * w] << 8 | p[2 * w + 1]);
  }
  int16_t count = 0;
  if (ZELK_VOICE_DecodeFrame(&state, frame.data(), pcm, ADPCM_2BIT, &count) != 0) return -1;
  return count;
}
