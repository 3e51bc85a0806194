// The exported functions: argument checks in their fixed order, narrowing of
// the 32-bit arguments, and dispatch to the codec that the type names. Every
// check runs before anything is written, so a failed call changes nothing
// (a decode's sample count aside).
#include "codec/adpcm2/adpcm2.h"
#include "codec/fixed_point.h"
#include "codec/g711/g711.h"
#include "codec/ima_adpcm/ima_adpcm.h"
#include "frame/voice_frame.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

constexpr bool CodecTypeValid(int t) noexcept { return t >= G711_ALAW && t <= ADPCM_2BIT; }

constexpr bool SampleCountValid(int n) noexcept {
  return n > 0 && n <= FRAME_MAX_SAMPLES && n % ZELK_VOICE_SAMPLE_STEP == 0;
}

// Samples carried by one payload word.
constexpr int SamplesPerWord(int t) noexcept {
  return t == IMA_ADPCM ? 4 : (t == ADPCM_2BIT ? 8 : 2);
}

uint32_t ResetState(void* state, int32_t codecType, uint32_t badTypeStatus) noexcept {
  if (state == nullptr) return VOICE_ERR_NULL_STATE;
  switch (LowSigned16(codecType)) {
    case G711_ALAW:
    case G711_ULAW:
      return VOICE_OK;  // memoryless: the block is left alone
    case IMA_ADPCM:
      ImaAdpcmClear(state);
      return VOICE_OK;
    case ADPCM_2BIT:
      Adpcm2Reset(state);
      return VOICE_OK;
    default:
      return badTypeStatus;
  }
}

}  // namespace
}  // namespace zelk

using namespace zelk;

extern "C" {

ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_EncodeFrame(void* state, const int16_t* pcm,
                                                                  uint16_t* frame,
                                                                  int32_t sampleCount,
                                                                  int32_t codecType) {
  if (state == nullptr) return VOICE_ERR_NULL_STATE;
  if (pcm == nullptr) return VOICE_ERR_NULL_INPUT;
  if (frame == nullptr) return VOICE_ERR_NULL_OUTPUT;
  const int n = LowSigned16(sampleCount);
  if (!SampleCountValid(n)) return VOICE_ERR_ENC_LENGTH;
  const int t = LowSigned16(codecType);
  if (!CodecTypeValid(t)) return VOICE_ERR_ENC_TYPE;

  // The codecs write the frame in place: exactly 2 + L words, nothing beyond.
  switch (t) {
    case IMA_ADPCM:
      ImaAdpcmEncodeFrame(state, pcm, n, frame);
      break;
    case ADPCM_2BIT:
      Adpcm2EncodeFrame(state, pcm, frame, n);
      break;
    default:
      G711EncodeFrame(pcm, n, t, frame);
      break;
  }
  return VOICE_OK;
}

ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_DecodeFrame(void* state,
                                                                  const uint16_t* frame,
                                                                  int16_t* pcm, int32_t codecType,
                                                                  int16_t* sampleCountOut) {
  // The count is cleared before anything else, so a host that ignores the
  // status still sees 0 samples. A null count pointer is refused instead of
  // written through, after the other null checks.
  if (sampleCountOut != nullptr) *sampleCountOut = 0;
  if (state == nullptr) return VOICE_ERR_NULL_STATE;
  if (frame == nullptr) return VOICE_ERR_NULL_INPUT;
  if (pcm == nullptr) return VOICE_ERR_NULL_OUTPUT;
  if (sampleCountOut == nullptr) return VOICE_ERR_NULL_OUTPUT;
  if (!FrameHeaderValid(FrameHeaderWord(frame))) return VOICE_ERR_DEC_HEADER;
  const int lengthByte = FrameLengthByte(frame);
  if (lengthByte == 0) return VOICE_ERR_DEC_LENGTH;
  const int t = LowSigned16(codecType);
  if (!CodecTypeValid(t)) return VOICE_ERR_DEC_TYPE;
  const int n = lengthByte * SamplesPerWord(t);
  if (!SampleCountValid(n)) return VOICE_ERR_DEC_LENGTH;

  *sampleCountOut = static_cast<int16_t>(n);
  switch (t) {
    case IMA_ADPCM:
      ImaAdpcmDecodeFrame(state, frame, pcm);
      break;
    case ADPCM_2BIT:
      Adpcm2DecodeFrame(state, frame, pcm);
      break;
    default:
      G711DecodeFrame(frame, pcm, t);
      break;
  }
  return VOICE_OK;
}

ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_EncReset(void* state, int32_t codecType) {
  return ResetState(state, codecType, VOICE_ERR_ENC_TYPE);
}

ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_DecReset(void* state, int32_t codecType) {
  return ResetState(state, codecType, VOICE_ERR_DEC_TYPE);
}

ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_GetVersionNumber(void) {
  return ZELK_VOICE_VERSION_NUMBER;
}

}  // extern "C"
