// Encodes arbitrary PCM, with any codec type and frame size, from a reset
// block or from whatever bytes the input puts in the state block (a block
// that was never reset must still be safe to run).
//
// Input layout:
//   byte 0      flags: bits 0-1 codec type - 1; bit 2 reset the block first;
//               bit 3 take the type argument raw from the next 4 bytes;
//               bit 4 take the sample-count argument raw from the next 4 bytes,
//               else bits 5-7 pick one of the six frame sizes
//   52 bytes    the state block
//   samples     n samples per frame, up to MAX_FRAMES frames on the same block
//
// After every call: the status follows the argument rules; a failed call
// changes nothing; a good one writes a well-formed frame of exactly 2 + L
// words and nothing past it, touches only the state bytes its codec owns,
// repeats itself from the same state, and yields a frame the decoder accepts
// as n samples.
#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace zelk::fuzz;

constexpr int MAX_FRAMES = 6;
constexpr size_t FRAME_BUFFER_WORDS = ZELK_VOICE_MAX_FRAME_WORDS + 16;
constexpr uint16_t FRAME_SENTINEL = 0xA55A;

uint32_t ExpectedStatus(int32_t rawCount, int32_t rawType) {
  if (!FrameSampleCountValid(static_cast<int16_t>(rawCount))) return VOICE_ERR_ENC_LENGTH;
  if (!CodecTypeValid(rawType)) return VOICE_ERR_ENC_TYPE;
  return VOICE_OK;
}

// The frame decodes, from a reset decoder, to the n samples it was made of.
void CheckDecodable(const uint16_t* frame, int t, int n) {
  StateBuffer decoder;
  std::memset(decoder.bytes, 0, sizeof(decoder.bytes));
  FUZZ_CHECK(ZELK_VOICE_DecReset(decoder.bytes, t) == VOICE_OK);
  std::vector<int16_t> pcm(480);
  int16_t count = 0;
  FUZZ_CHECK(ZELK_VOICE_DecodeFrame(decoder.bytes, frame, pcm.data(), t, &count) == VOICE_OK);
  FUZZ_CHECK(count == n);
}

void EncodeOnce(StateBuffer& state, const std::vector<int16_t>& pcm, int32_t rawCount,
                int32_t rawType) {
  const StateBuffer before = state;
  const std::vector<int16_t> pcmBefore = pcm;
  std::vector<uint16_t> frame(FRAME_BUFFER_WORDS, FRAME_SENTINEL);

  const uint32_t status =
      ZELK_VOICE_EncodeFrame(state.bytes, pcm.data(), frame.data(), rawCount, rawType);

  FUZZ_CHECK(status == ExpectedStatus(rawCount, rawType));
  FUZZ_CHECK(pcm == pcmBefore);
  if (status != VOICE_OK) {
    FUZZ_CHECK(SameState(before, state));
    for (uint16_t w : frame) FUZZ_CHECK(w == FRAME_SENTINEL);
    return;
  }

  const int t = static_cast<int16_t>(rawType);
  const int n = static_cast<int16_t>(rawCount);
  const size_t payloadWords = static_cast<size_t>(n / SamplesPerPayloadWord(t));
  FUZZ_CHECK(LoadWireWord(&frame[0]) == 0x0100);
  FUZZ_CHECK(LoadWireWord(&frame[1]) == payloadWords);
  for (size_t i = 2 + payloadWords; i < frame.size(); ++i) FUZZ_CHECK(frame[i] == FRAME_SENTINEL);
  CheckStateOwnership(before, state, t);

  StateBuffer again = before;
  std::vector<uint16_t> frameAgain(FRAME_BUFFER_WORDS, FRAME_SENTINEL);
  FUZZ_CHECK(ZELK_VOICE_EncodeFrame(again.bytes, pcm.data(), frameAgain.data(), rawCount,
                                    rawType) == VOICE_OK);
  FUZZ_CHECK(frameAgain == frame);
  FUZZ_CHECK(SameState(again, state));

  CheckDecodable(frame.data(), t, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  int32_t rawType = (flags & 3) + 1;
  if (flags & 8) rawType = static_cast<int32_t>(in.Word32());
  int32_t rawCount = 80 * (1 + ((flags >> 5) % 6));
  if (flags & 16) rawCount = static_cast<int32_t>(in.Word32());

  StateBuffer state;
  std::memset(state.bytes, 0x3C, sizeof(state.bytes));
  in.Bytes(state.bytes, STATE_BLOCK_BYTES);
  if (flags & 4) CheckReset(ZELK_VOICE_EncReset, VOICE_ERR_ENC_TYPE, state, rawType);

  // The PCM buffer holds exactly the samples the call may read; a refused
  // call gets a one-sample buffer and must not read it at all.
  const int16_t n = static_cast<int16_t>(rawCount);
  const size_t samples = FrameSampleCountValid(n) ? static_cast<size_t>(n) : 1;
  for (int k = 0; k < MAX_FRAMES; ++k) {
    std::vector<int16_t> pcm(samples);
    in.Bytes(pcm.data(), samples * sizeof(int16_t));
    EncodeOnce(state, pcm, rawCount, rawType);
    if (in.Empty()) break;
  }
  return 0;
}
