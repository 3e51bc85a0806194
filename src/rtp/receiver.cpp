// The concealing receiver: one engine decoder and the concealment that fills
// its gaps, in the caller's block. Checks run in the header's order and all of
// them before anything is written.
#include <cstring>

#include "adpcm2_recovery.h"
#include "engine_block.h"
#include "ima_recovery.h"
#include "plc.h"
#include "receiver_state.h"
#include "rtp_math.h"
#include "zelk_voice_engine.h"
#include "zelk_voice_rtp.h"

namespace zelk::rtp {
namespace {

// The record of a block that ZELK_RTP_ReceiverReset prepared, with every field
// in range; null for any other block (never reset, reset by another version,
// or overwritten since).
ReceiverRecord* Record(void* receiver) noexcept {
  auto* r = static_cast<ReceiverRecord*>(receiver);
  if (r->magic != RECEIVER_MAGIC || r->version != RECEIVER_VERSION) return nullptr;
  if (!IsCodecType(r->codec) || !PlcValid(r->plc) || !ImaRecoveryValid(r->ima)) return nullptr;
  if (r->adpcm2Pending < 0 || r->adpcm2Pending >= ZELK_VOICE_MIN_SAMPLES) return nullptr;
  return r;
}

// The last IMA_LEVEL_SAMPLES played before the current gap.
const int16_t* BeforeGap(const ReceiverRecord& r) noexcept {
  return r.plc.source + (PLC_HISTORY - IMA_LEVEL_SAMPLES);
}

}  // namespace
}  // namespace zelk::rtp

using namespace zelk::rtp;

extern "C" {

ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiverReset(void* receiver, size_t receiverSize,
                                                              int32_t codecType) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (receiverSize < ZELK_RTP_RECEIVER_SIZE) return ZELK_RTP_ERR_STATE_SIZE;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  const int t = codecType;

  ReceiverRecord r;
  std::memset(&r, 0, sizeof r);
  r.magic = RECEIVER_MAGIC;
  r.version = RECEIVER_VERSION;
  r.codec = static_cast<int16_t>(t);
  ZELK_VOICE_DecReset(&r.decoder, t);
  PlcReset(r.plc);
  ImaRecoveryReset(r.ima);
  std::memcpy(receiver, &r, sizeof r);  // the block past the record is left alone
  return ZELK_RTP_OK;
}

ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiveFrame(void* receiver, size_t receiverSize,
                                                             const uint16_t* frame,
                                                             size_t frameBytes, int16_t* pcm,
                                                             size_t pcmCapacity,
                                                             size_t* sampleCount) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (frame == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (pcm == nullptr || sampleCount == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (receiverSize < ZELK_RTP_RECEIVER_SIZE) return ZELK_RTP_ERR_STATE_SIZE;
  ReceiverRecord* r = Record(receiver);
  if (r == nullptr) return ZELK_RTP_ERR_NOT_RESET;
  const int n = FrameSamples(r->codec, frame, frameBytes);
  if (n == 0) return ZELK_RTP_ERR_FRAME;
  if (pcmCapacity < static_cast<size_t>(n)) return ZELK_RTP_ERR_CAPACITY;

  if (r->plc.lost > 0 && r->codec == IMA_ADPCM) {
    ImaRecoveryStart(r->ima, r->decoder, frame, BeforeGap(*r));
  }
  if (r->plc.lost > 0 && r->codec == ADPCM_2BIT) {
    Adpcm2RecoveryFinish(r->decoder, r->plc, r->adpcm2Pending);
  }
  int16_t decoded = 0;
  ZELK_VOICE_DecodeFrame(&r->decoder, frame, pcm, r->codec, &decoded);
  if (r->codec == IMA_ADPCM) ImaRecoveryFrame(r->ima, r->decoder, pcm, n);
  PlcReceive(r->plc, pcm, n);
  ImaRecoveryTrack(r->ima, pcm, n);
  *sampleCount = static_cast<size_t>(n);
  return ZELK_RTP_OK;
}

ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceivePayload(void* receiver, size_t receiverSize,
                                                               const uint8_t* payload,
                                                               size_t payloadBytes, int16_t* pcm,
                                                               size_t pcmCapacity,
                                                               size_t* sampleCount) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (payload == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (pcm == nullptr || sampleCount == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (receiverSize < ZELK_RTP_RECEIVER_SIZE) return ZELK_RTP_ERR_STATE_SIZE;
  ReceiverRecord* r = Record(receiver);
  if (r == nullptr) return ZELK_RTP_ERR_NOT_RESET;

  // The payload's own checks (size, DVI4 header, capacity) come first and
  // leave everything as it was when they fail. DVI4 loads its header into
  // the decoder, so the stream is exact again from this packet on: its
  // samples are played as they are, with no join that would blend them with
  // the concealment.
  size_t n = 0;
  const uint32_t status =
      ZELK_RTP_DecodePayload(&r->decoder, payload, payloadBytes, r->codec, pcm, pcmCapacity, &n);
  if (status != ZELK_RTP_OK) return status;
  r->ima.active = 0;
  r->adpcm2Pending = 0;
  if (r->codec == IMA_ADPCM) {
    PlcResume(r->plc, pcm, static_cast<int>(n));
  } else {
    PlcReceive(r->plc, pcm, static_cast<int>(n));
  }
  ImaRecoveryTrack(r->ima, pcm, static_cast<int>(n));
  *sampleCount = n;
  return ZELK_RTP_OK;
}

ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ConcealLoss(void* receiver, size_t receiverSize,
                                                            int32_t sampleCount, int16_t* pcm,
                                                            size_t pcmCapacity) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (pcm == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (receiverSize < ZELK_RTP_RECEIVER_SIZE) return ZELK_RTP_ERR_STATE_SIZE;
  ReceiverRecord* r = Record(receiver);
  if (r == nullptr) return ZELK_RTP_ERR_NOT_RESET;
  if (sampleCount < 1 || sampleCount > ZELK_VOICE_MAX_SAMPLES) return ZELK_RTP_ERR_SAMPLES;
  const int n = sampleCount;
  if (pcmCapacity < static_cast<size_t>(n)) return ZELK_RTP_ERR_CAPACITY;

  PlcConceal(r->plc, pcm, n);
  if (r->codec == ADPCM_2BIT) Adpcm2RecoveryConceal(r->decoder, r->plc, n, r->adpcm2Pending);
  return ZELK_RTP_OK;
}

}  // extern "C"
