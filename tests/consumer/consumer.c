/* Encodes and decodes one A-law frame through an installed library. */
#include <stdio.h>
#include <zelk_voice_engine.h>

int main(void) {
  VoiceCodecState enc, dec;
  int16_t in[160], out[160], count = 0;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  for (int i = 0; i < 160; ++i) in[i] = (int16_t)(i * 100 - 8000);
  if (ZELK_VOICE_EncReset(&enc, G711_ALAW) || ZELK_VOICE_DecReset(&dec, G711_ALAW) ||
      ZELK_VOICE_EncodeFrame(&enc, in, frame, 160, G711_ALAW) ||
      ZELK_VOICE_DecodeFrame(&dec, frame, out, G711_ALAW, &count) || count != 160) {
    return 1;
  }
  printf("consumer ok: version 0x%08X\n", (unsigned)ZELK_VOICE_GetVersionNumber());
  return 0;
}
