/* The component's header compiled as plain C99: every name a C host uses. */
#include <stddef.h>
#include <zelk_voice_rtp.h>

int main(void) {
  VoiceCodecState state;
  ZelkRtpReceiver receiver;
  int16_t pcm[ZELK_VOICE_MAX_SAMPLES] = {0};
  uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES], record[ZELK_RTP_MAX_RECORD_BYTES];
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  size_t bytes = 0, count = 0;
  const uint32_t codes[] = {
      ZELK_RTP_ERR_CODEC,         ZELK_RTP_ERR_SAMPLES,      ZELK_RTP_ERR_CAPACITY,
      ZELK_RTP_ERR_STATE_SIZE,    ZELK_RTP_ERR_PAYLOAD_SIZE, ZELK_RTP_ERR_DVI4_INDEX,
      ZELK_RTP_ERR_DVI4_RESERVED, ZELK_RTP_ERR_FRAME,        ZELK_RTP_ERR_RECORD,
      ZELK_RTP_ERR_RECORD_SIZE,   ZELK_RTP_ERR_NOT_RESET,    ZELK_RTP_ERR_NULL_STATE,
      ZELK_RTP_ERR_NULL_INPUT,    ZELK_RTP_ERR_NULL_OUTPUT};
  const int types[] = {ZELK_RTP_PT_PCMU, ZELK_RTP_PT_DVI4, ZELK_RTP_PT_PCMA,
                       ZELK_RTP_PT_ADPCM2_DEFAULT};
  if (sizeof codes / sizeof codes[0] != 14 || types[1] != 5) return 1;
  if (sizeof receiver != ZELK_RTP_RECEIVER_SIZE || sizeof ZELK_RTP_ADPCM2_ENCODING_NAME < 2)
    return 2;
  if (ZELK_VOICE_EncReset(&state, IMA_ADPCM) != VOICE_OK) return 3;
  if (ZELK_RTP_EncodePayload(&state, pcm, 160, IMA_ADPCM, payload, sizeof payload, &bytes) !=
          ZELK_RTP_OK ||
      bytes != ZELK_RTP_PayloadBytes(IMA_ADPCM, 160) || bytes != ZELK_RTP_DVI4_HEADER_BYTES + 80)
    return 4;
  if (ZELK_RTP_DecodePayload(&state, payload, bytes, IMA_ADPCM, pcm, ZELK_VOICE_MAX_SAMPLES,
                             &count) != ZELK_RTP_OK ||
      count != 160 || ZELK_RTP_PayloadSamples(IMA_ADPCM, bytes) != 160)
    return 5;
  if (ZELK_RTP_PayloadToFrame(IMA_ADPCM, payload, bytes, &state, frame, sizeof frame, &bytes) !=
          ZELK_RTP_OK ||
      ZELK_RTP_FrameToPayload(IMA_ADPCM, frame, bytes, &state, payload, sizeof payload, &bytes) !=
          ZELK_RTP_OK)
    return 6;
  if (ZELK_RTP_AlawToUlaw(payload, 4, payload, 4) != ZELK_RTP_OK ||
      ZELK_RTP_UlawToAlaw(payload, 4, payload, 4) != ZELK_RTP_OK)
    return 7;
  if (ZELK_RTP_SaveRecord(&state, IMA_ADPCM, record, sizeof record, &bytes) != ZELK_RTP_OK ||
      bytes != ZELK_RTP_IMA_RECORD_BYTES || ZELK_RTP_ADPCM2_RECORD_BYTES != 50 ||
      ZELK_RTP_LoadRecord(&state, IMA_ADPCM, record, bytes) != ZELK_RTP_OK)
    return 8;
  if (ZELK_RTP_ReceiverReset(NULL, sizeof receiver, G711_ALAW) != ZELK_RTP_ERR_NULL_STATE) return 9;
  (void)ZELK_RTP_ReceiverReset(&receiver, sizeof receiver, G711_ALAW);
  (void)ZELK_RTP_ReceiveFrame(&receiver, sizeof receiver, frame, sizeof frame, pcm, 480, &count);
  (void)ZELK_RTP_ReceivePayload(&receiver, sizeof receiver, payload, 160, pcm, 480, &count);
  (void)ZELK_RTP_ConcealLoss(&receiver, sizeof receiver, 160, pcm, 480);
  return 0;
}
