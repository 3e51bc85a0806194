/* The public header compiled as plain C99: every name a C host uses. */
#include <stddef.h>
#include <zelk_voice_engine.h>

int main(void) {
  VoiceCodecState state;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  int16_t pcm[ZELK_VOICE_MAX_SAMPLES] = {0};
  int16_t count = 0;
  VoiceCodecType type = G711_ULAW;
  const uint32_t codes[] = {VOICE_ERR_ENC_TYPE,   VOICE_ERR_ENC_LENGTH, VOICE_ERR_DEC_TYPE,
                            VOICE_ERR_DEC_LENGTH, VOICE_ERR_DEC_HEADER, VOICE_ERR_NULL_STATE,
                            VOICE_ERR_NULL_INPUT, VOICE_ERR_NULL_OUTPUT};
  if (sizeof state < ZELK_VOICE_STATE_SIZE || sizeof codes / sizeof codes[0] != 8) return 1;
  if (ZELK_VOICE_GetVersionNumber() != ZELK_VOICE_VERSION_NUMBER) return 2;
  if (ZELK_VOICE_EncReset(&state, type) != VOICE_OK) return 3;
  if (ZELK_VOICE_EncodeFrame(&state, pcm, frame, ZELK_VOICE_MIN_SAMPLES, type) != VOICE_OK)
    return 4;
  if (ZELK_VOICE_DecodeFrame(&state, frame, pcm, type, &count) != VOICE_OK) return 5;
  if (count != ZELK_VOICE_MIN_SAMPLES) return 6;
  if (ZELK_VOICE_DecodeFrame(NULL, frame, pcm, type, &count) != VOICE_ERR_NULL_STATE) return 7;
  return 0;
}
