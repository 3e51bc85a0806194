// Calls into zelk_voice_rtp.dll as a Microsoft-compiled host makes them: this
// file is compiled by clang for the MSVC target (its own implementation of
// Microsoft's name decoration, nothing of MinGW's), and check_msvc_names.cmake
// reads the names it imports, which must be the DLL's export table for the
// machine. Every function of the header is called once; nothing runs it.
#include "zelk_voice_rtp.h"

extern "C" uint32_t MsvcRtpHostCalls(void* state, void* receiver, uint8_t* bytes, int16_t* pcm,
                                     uint16_t* frame, size_t* count);

uint32_t MsvcRtpHostCalls(void* state, void* receiver, uint8_t* bytes, int16_t* pcm,
                          uint16_t* frame, size_t* count) {
  uint32_t any = 0;
  any |= static_cast<uint32_t>(ZELK_RTP_PayloadBytes(IMA_ADPCM, 160));
  any |= static_cast<uint32_t>(ZELK_RTP_PayloadSamples(IMA_ADPCM, 84));
  any |= ZELK_RTP_EncodePayload(state, pcm, 160, IMA_ADPCM, bytes, 84, count);
  any |= ZELK_RTP_DecodePayload(state, bytes, 84, IMA_ADPCM, pcm, 160, count);
  any |= ZELK_RTP_FrameToPayload(IMA_ADPCM, frame, 84, state, bytes, 84, count);
  any |= ZELK_RTP_PayloadToFrame(IMA_ADPCM, bytes, 84, state, frame, 84, count);
  any |= ZELK_RTP_AlawToUlaw(bytes, 2, bytes, 2);
  any |= ZELK_RTP_UlawToAlaw(bytes, 2, bytes, 2);
  any |= ZELK_RTP_SaveRecord(state, IMA_ADPCM, bytes, 3, count);
  any |= ZELK_RTP_LoadRecord(state, IMA_ADPCM, bytes, 3);
  any |= ZELK_RTP_ReceiverReset(receiver, ZELK_RTP_RECEIVER_SIZE, G711_ALAW);
  any |= ZELK_RTP_ReceiveFrame(receiver, ZELK_RTP_RECEIVER_SIZE, frame, 84, pcm, 160, count);
  any |= ZELK_RTP_ReceivePayload(receiver, ZELK_RTP_RECEIVER_SIZE, bytes, 84, pcm, 160, count);
  any |= ZELK_RTP_ConcealLoss(receiver, ZELK_RTP_RECEIVER_SIZE, 160, pcm, 160);
  return any;
}
