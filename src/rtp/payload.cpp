// RFC 3551 payloads for the engine's codecs, made and taken apart around the
// engine's own frame calls.
//
// The engine's frames and the RTP payloads hold the same codes in two
// orders. G.711 and the two-bit codec pack their frame payload by word value,
// the earliest code at the top of each word, and the words travel little-
// endian; RTP wants the codes in time order, which is each word's big-endian
// bytes:
//
//   frame word i (value)      c[2i] << 8 | c[2i+1]       (two-bit: c[8i] .. c[8i+7])
//   frame bytes 4+2i, 5+2i    c[2i+1], c[2i]
//   payload bytes 2i, 2i+1    c[2i], c[2i+1]             (two-bit: 4 codes a byte)
//
// The IMA frame payload is already DVI4's code bytes in time order (two codes
// a byte, the earlier in the high nibble), so DVI4 is a 4-byte header and
// those bytes as they lie in memory.
#include <cstring>

#include "engine_block.h"
#include "zelk_voice_rtp.h"

namespace zelk::rtp {
namespace {

constexpr size_t MAX_FRAME_WORDS = ZELK_VOICE_MAX_FRAME_WORDS;
constexpr size_t DVI4_HEADER = ZELK_RTP_DVI4_HEADER_BYTES;

// G.711 blocks of any length 1..480 are coded as the engine frame of the next
// size up, padded with zeros, of which only the first n codes count.
constexpr int32_t PaddedCount(int32_t n) noexcept {
  return (n + ZELK_VOICE_SAMPLE_STEP - 1) / ZELK_VOICE_SAMPLE_STEP * ZELK_VOICE_SAMPLE_STEP;
}

size_t PayloadBytesFor(int32_t t, int32_t n) noexcept {
  if (IsG711(t)) return n >= 1 && n <= ZELK_VOICE_MAX_SAMPLES ? static_cast<size_t>(n) : 0;
  if (!IsFrameSampleCount(n)) return 0;
  const auto samples = static_cast<size_t>(n);
  if (t == IMA_ADPCM) return DVI4_HEADER + samples / 2;
  if (t == ADPCM_2BIT) return samples / 4;
  return 0;
}

int32_t PayloadSamplesFor(int32_t t, size_t bytes) noexcept {
  int32_t n = 0;
  if (IsG711(t)) {
    return bytes >= 1 && bytes <= ZELK_VOICE_MAX_SAMPLES ? static_cast<int32_t>(bytes) : 0;
  }
  if (t == IMA_ADPCM && bytes >= DVI4_HEADER && bytes - DVI4_HEADER <= ZELK_VOICE_MAX_SAMPLES) {
    n = static_cast<int32_t>(2 * (bytes - DVI4_HEADER));
  } else if (t == ADPCM_2BIT && bytes <= ZELK_VOICE_MAX_SAMPLES) {
    n = static_cast<int32_t>(4 * bytes);
  }
  return IsFrameSampleCount(n) ? n : 0;
}

// DVI4 header: predicted value (big-endian int16), step index, reserved 0.
void WriteDvi4Header(const void* state, uint8_t* out) noexcept {
  const auto predictor = static_cast<uint16_t>(LoadInt16(state, IMA_PREDICTOR_AT));
  out[0] = static_cast<uint8_t>(predictor >> 8);
  out[1] = static_cast<uint8_t>(predictor & 0xFF);
  out[2] = static_cast<uint8_t>(LoadImaStepIndex(state));
  out[3] = 0;
}

uint32_t CheckDvi4Header(const uint8_t* header) noexcept {
  if (header[2] > IMA_STEP_INDEX_MAX) return ZELK_RTP_ERR_DVI4_INDEX;
  if (header[3] != 0) return ZELK_RTP_ERR_DVI4_RESERVED;
  return ZELK_RTP_OK;
}

void LoadDvi4Header(const uint8_t* header, void* state) noexcept {
  const auto predictor = static_cast<uint16_t>(header[0] << 8 | header[1]);
  StoreInt16(state, IMA_PREDICTOR_AT, static_cast<int16_t>(predictor));
  StoreImaStepIndex(state, header[2]);
}

// The codes of n samples from a frame's payload words into a payload body.
void FrameCodesToPayload(int32_t t, const uint16_t* words, int32_t n, uint8_t* body) noexcept {
  if (t == IMA_ADPCM) {
    std::memcpy(body, words, static_cast<size_t>(n) / 2);
    return;
  }
  const size_t bytes = t == ADPCM_2BIT ? static_cast<size_t>(n) / 4 : static_cast<size_t>(n);
  for (size_t j = 0; j < bytes; ++j) {
    const uint16_t w = LoadFrameWord(words + j / 2);
    body[j] = static_cast<uint8_t>(j % 2 == 0 ? w >> 8 : w & 0xFF);
  }
}

// The other way: `bytes` payload bytes into frame words; an odd last byte
// (G.711 only) is the high half of its word, the low half 0.
void PayloadCodesToFrame(int32_t t, const uint8_t* body, size_t bytes, uint16_t* words) noexcept {
  if (t == IMA_ADPCM) {
    std::memcpy(words, body, bytes);
    return;
  }
  for (size_t j = 0; j + 1 < bytes; j += 2) {
    StoreFrameWord(words + j / 2, static_cast<uint16_t>(body[j] << 8 | body[j + 1]));
  }
  if (bytes % 2 != 0)
    StoreFrameWord(words + bytes / 2, static_cast<uint16_t>(body[bytes - 1] << 8));
}

// The frame of `words` payload words that carries a checked payload's codes,
// zeros after them (the padding of a short G.711 block); the DVI4 header is
// skipped here and loaded by the caller.
void PayloadFrame(int32_t t, const uint8_t* payload, size_t payloadBytes, size_t words,
                  uint16_t* frame) noexcept {
  const size_t skip = t == IMA_ADPCM ? DVI4_HEADER : 0;
  WriteFrameHeader(frame, words);
  std::memset(frame + 2, 0, words * sizeof(uint16_t));
  PayloadCodesToFrame(t, payload + skip, payloadBytes - skip, frame + 2);
}

}  // namespace
}  // namespace zelk::rtp

using namespace zelk::rtp;

extern "C" {

size_t ZELK_RTP_CALL ZELK_RTP_PayloadBytes(int32_t codecType, int32_t sampleCount) {
  return PayloadBytesFor(codecType, sampleCount);
}

int32_t ZELK_RTP_CALL ZELK_RTP_PayloadSamples(int32_t codecType, size_t payloadBytes) {
  return PayloadSamplesFor(codecType, payloadBytes);
}

uint32_t ZELK_RTP_CALL ZELK_RTP_EncodePayload(void* state, const int16_t* pcm, int32_t sampleCount,
                                              int32_t codecType, uint8_t* payload,
                                              size_t payloadCapacity, size_t* payloadBytes) {
  if (state == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (pcm == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (payload == nullptr || payloadBytes == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  const size_t bytes = PayloadBytesFor(codecType, sampleCount);
  if (bytes == 0) return ZELK_RTP_ERR_SAMPLES;
  // A header carrying an index past the table would be refused by every peer.
  if (codecType == IMA_ADPCM && !IsImaStepIndex(LoadImaStepIndex(state))) {
    return ZELK_RTP_ERR_RECORD;
  }
  if (payloadCapacity < bytes) return ZELK_RTP_ERR_CAPACITY;

  const int16_t* samples = pcm;
  int16_t padded[ZELK_VOICE_MAX_SAMPLES];
  const int32_t coded = PaddedCount(sampleCount);
  if (coded != sampleCount) {
    const auto n = static_cast<size_t>(sampleCount);
    std::memcpy(padded, pcm, n * sizeof(int16_t));
    std::memset(padded + n, 0, (static_cast<size_t>(coded) - n) * sizeof(int16_t));
    samples = padded;
  }
  uint8_t header[DVI4_HEADER];
  if (codecType == IMA_ADPCM) WriteDvi4Header(state, header);  // the state before the block
  uint16_t frame[MAX_FRAME_WORDS];
  const uint32_t status = ZELK_VOICE_EncodeFrame(state, samples, frame, coded, codecType);
  if (status != VOICE_OK) return status;  // not reached: every argument was checked
  uint8_t* body = payload;
  if (codecType == IMA_ADPCM) {
    std::memcpy(payload, header, DVI4_HEADER);
    body += DVI4_HEADER;
  }
  FrameCodesToPayload(codecType, frame + 2, sampleCount, body);
  *payloadBytes = bytes;
  return ZELK_RTP_OK;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_DecodePayload(void* state, const uint8_t* payload,
                                              size_t payloadBytes, int32_t codecType, int16_t* pcm,
                                              size_t pcmCapacity, size_t* sampleCount) {
  if (state == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (payload == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (pcm == nullptr || sampleCount == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  const int32_t n = PayloadSamplesFor(codecType, payloadBytes);
  if (n == 0) return ZELK_RTP_ERR_PAYLOAD_SIZE;
  if (codecType == IMA_ADPCM) {
    const uint32_t header = CheckDvi4Header(payload);
    if (header != ZELK_RTP_OK) return header;
  }
  if (pcmCapacity < static_cast<size_t>(n)) return ZELK_RTP_ERR_CAPACITY;

  const int32_t coded = PaddedCount(n);
  const auto words = static_cast<size_t>(coded / SamplesPerFrameWord(codecType));
  uint16_t frame[MAX_FRAME_WORDS];
  PayloadFrame(codecType, payload, payloadBytes, words, frame);  // padding decodes unseen
  if (codecType == IMA_ADPCM) LoadDvi4Header(payload, state);

  int16_t decoded[ZELK_VOICE_MAX_SAMPLES];
  int16_t* out = coded == n ? pcm : decoded;  // the engine writes exactly `coded` samples
  int16_t got = 0;
  const uint32_t status = ZELK_VOICE_DecodeFrame(state, frame, out, codecType, &got);
  if (status != VOICE_OK) return status;  // not reached: the frame was built to fit
  if (out != pcm) std::memcpy(pcm, decoded, static_cast<size_t>(n) * sizeof(int16_t));
  *sampleCount = static_cast<size_t>(n);
  return ZELK_RTP_OK;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_FrameToPayload(int32_t codecType, const uint16_t* frame,
                                               size_t frameBytes, const void* encoderStateBefore,
                                               uint8_t* payload, size_t payloadCapacity,
                                               size_t* payloadBytes) {
  if (frame == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (payload == nullptr || payloadBytes == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  if (codecType == IMA_ADPCM && encoderStateBefore == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  const int32_t n = FrameSamples(codecType, frame, frameBytes);
  if (n == 0) return ZELK_RTP_ERR_FRAME;
  if (codecType == IMA_ADPCM && !IsImaStepIndex(LoadImaStepIndex(encoderStateBefore))) {
    return ZELK_RTP_ERR_RECORD;
  }
  const size_t bytes = PayloadBytesFor(codecType, n);
  if (payloadCapacity < bytes) return ZELK_RTP_ERR_CAPACITY;

  uint8_t* body = payload;
  if (codecType == IMA_ADPCM) {
    WriteDvi4Header(encoderStateBefore, payload);
    body += DVI4_HEADER;
  }
  FrameCodesToPayload(codecType, frame + 2, n, body);
  *payloadBytes = bytes;
  return ZELK_RTP_OK;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_PayloadToFrame(int32_t codecType, const uint8_t* payload,
                                               size_t payloadBytes, void* decoderState,
                                               uint16_t* frame, size_t frameCapacity,
                                               size_t* frameBytes) {
  if (payload == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (frame == nullptr || frameBytes == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  if (codecType == IMA_ADPCM && decoderState == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  const int32_t n = PayloadSamplesFor(codecType, payloadBytes);
  if (!IsFrameSampleCount(n)) return ZELK_RTP_ERR_PAYLOAD_SIZE;  // a frame holds no other size
  if (codecType == IMA_ADPCM) {
    const uint32_t header = CheckDvi4Header(payload);
    if (header != ZELK_RTP_OK) return header;
  }
  const auto words = static_cast<size_t>(n / SamplesPerFrameWord(codecType));
  const size_t bytes = FRAME_HEADER_BYTES + 2 * words;
  if (frameCapacity < bytes) return ZELK_RTP_ERR_CAPACITY;

  PayloadFrame(codecType, payload, payloadBytes, words, frame);
  if (codecType == IMA_ADPCM) LoadDvi4Header(payload, decoderState);
  *frameBytes = bytes;
  return ZELK_RTP_OK;
}

}  // extern "C"
