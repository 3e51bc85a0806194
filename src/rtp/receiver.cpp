// The concealing receiver: one engine decoder and the concealment that fills
// its gaps, in the caller's block. Checks run in the header's order and all of
// them before anything is written.
#include <cstring>

#include "ima_recovery.h"
#include "plc.h"
#include "receiver_state.h"
#include "rtp_math.h"
#include "zelk_voice_engine.h"
#include "zelk_voice_rtp.h"

namespace zelk::rtp {
namespace {

constexpr bool CodecValid(int t) noexcept { return t >= G711_ALAW && t <= ADPCM_2BIT; }

constexpr bool FrameSamplesValid(int n) noexcept {
  return n >= ZELK_VOICE_MIN_SAMPLES && n <= ZELK_VOICE_MAX_SAMPLES &&
         n % ZELK_VOICE_SAMPLE_STEP == 0;
}

constexpr int SamplesPerWord(int t) noexcept {
  return t == IMA_ADPCM ? 4 : (t == ADPCM_2BIT ? 8 : 2);
}

// The record of a block that ZELK_RTP_ReceiverReset prepared, with every field
// in range; null for any other block (never reset, reset by another version,
// or overwritten since).
ReceiverRecord* Record(void* receiver) noexcept {
  auto* r = static_cast<ReceiverRecord*>(receiver);
  if (r->magic != RECEIVER_MAGIC || r->version != RECEIVER_VERSION) return nullptr;
  if (!CodecValid(r->codec) || !PlcValid(r->plc) || !ImaRecoveryValid(r->ima)) return nullptr;
  return r;
}

// The samples that a frame of frameBytes bytes carries for the codec, or 0
// when it is not one of the codec's frames.
int FrameSamples(int codec, const uint16_t* frame, size_t frameBytes) noexcept {
  if (frameBytes < 4) return 0;
  if ((frame[0] & 0x0300) != 0x0100) return 0;
  const int words = frame[1] & 0xFF;
  if (frameBytes != 4 + 2 * static_cast<size_t>(words)) return 0;
  const int n = words * SamplesPerWord(codec);
  return FrameSamplesValid(n) ? n : 0;
}

}  // namespace
}  // namespace zelk::rtp

using namespace zelk::rtp;

extern "C" {

ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiverReset(void* receiver, size_t receiverSize,
                                                              int32_t codecType) {
  if (receiver == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (receiverSize < ZELK_RTP_RECEIVER_SIZE) return ZELK_RTP_ERR_STATE_SIZE;
  const int t = LowSigned16(codecType);
  if (!CodecValid(t)) return ZELK_RTP_ERR_CODEC;

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

  const bool afterGap = r->plc.lost > 0;
  if (afterGap && r->codec == IMA_ADPCM) {
    ImaRecoveryStart(r->ima, r->decoder, frame, r->plc.source + (PLC_HISTORY - 80));
  }
  int16_t decoded = 0;
  ZELK_VOICE_DecodeFrame(&r->decoder, frame, pcm, r->codec, &decoded);
  if (r->codec == IMA_ADPCM) ImaRecoveryFrame(r->ima, r->decoder, pcm, n);
  PlcReceive(r->plc, pcm, n);
  ImaRecoveryTrack(r->ima, pcm, n);
  *sampleCount = static_cast<size_t>(n);
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
  const int n = LowSigned16(sampleCount);
  if (n < 1 || n > ZELK_VOICE_MAX_SAMPLES) return ZELK_RTP_ERR_SAMPLES;
  if (pcmCapacity < static_cast<size_t>(n)) return ZELK_RTP_ERR_CAPACITY;

  PlcConceal(r->plc, pcm, n);
  return ZELK_RTP_OK;
}

}  // extern "C"
