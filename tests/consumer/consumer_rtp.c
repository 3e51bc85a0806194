/* Sends one 20 ms A-law block as an RTP payload and reads it back through the
 * installed RTP component. */
#include <stdio.h>
#include <zelk_voice_rtp.h>

int main(void) {
  VoiceCodecState enc, dec;
  int16_t in[160], out[ZELK_VOICE_MAX_SAMPLES];
  uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
  size_t bytes = 0, count = 0;
  for (int i = 0; i < 160; ++i) in[i] = (int16_t)(i * 100 - 8000);
  if (ZELK_VOICE_EncReset(&enc, G711_ALAW) || ZELK_VOICE_DecReset(&dec, G711_ALAW) ||
      ZELK_RTP_EncodePayload(&enc, in, 160, G711_ALAW, payload, sizeof payload, &bytes) ||
      ZELK_RTP_DecodePayload(&dec, payload, bytes, G711_ALAW, out, ZELK_VOICE_MAX_SAMPLES,
                             &count) ||
      bytes != 160 || count != 160) {
    return 1;
  }
  printf("rtp consumer ok: %u payload bytes\n", (unsigned)bytes);
  return 0;
}
