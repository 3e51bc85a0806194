// The concealing receiver. Until it is written, every call checks its
// pointers and then reports that no codec is served, so that the libraries
// and the DLL already carry the whole export table.
#include "zelk_voice_rtp.h"

extern "C" {

uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiverReset(void* receiver, size_t /*receiverSize*/,
                                              int32_t /*codecType*/) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  return ZELK_RTP_ERR_CODEC;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiveFrame(void* receiver, size_t /*receiverSize*/,
                                             const uint16_t* frame, size_t /*frameBytes*/,
                                             int16_t* pcm, size_t /*pcmCapacity*/,
                                             size_t* sampleCount) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (frame == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (pcm == nullptr || sampleCount == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  return ZELK_RTP_ERR_CODEC;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_ReceivePayload(void* receiver, size_t /*receiverSize*/,
                                               const uint8_t* payload, size_t /*payloadBytes*/,
                                               int16_t* pcm, size_t /*pcmCapacity*/,
                                               size_t* sampleCount) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (payload == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (pcm == nullptr || sampleCount == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  return ZELK_RTP_ERR_CODEC;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_ConcealLoss(void* receiver, size_t /*receiverSize*/,
                                            int32_t /*sampleCount*/, int16_t* pcm,
                                            size_t /*pcmCapacity*/) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (pcm == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  return ZELK_RTP_ERR_CODEC;
}

}  // extern "C"
