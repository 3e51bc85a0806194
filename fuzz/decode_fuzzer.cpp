// Decodes arbitrary frames, with any codec type, from a reset block or from
// whatever bytes the input puts in the state block.
//
// Input layout:
//   byte 0      flags: bits 0-1 codec type - 1; bit 2 reset the block first;
//               bit 3 take the type argument raw from the next 4 bytes;
//               bit 4 pass one null pointer on the first call, bits 5-6 say which
//   52 bytes    the state block as the stream left it
//   frames      each: header word, length word, then 2 * (length byte) bytes;
//               up to MAX_FRAMES of them decoded in turn on the same block
//
// After every call: the status is the one the argument rules give; a failed
// call changes nothing but the sample count (0); a good one writes exactly the
// samples the length byte promises, touches only the state bytes its codec
// owns, never writes the frame, and gives the same result when repeated from
// the same state.
#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace zelk::fuzz;

constexpr int MAX_FRAMES = 6;
constexpr size_t PCM_GUARD = 32;
constexpr int16_t PCM_SENTINEL = 0x5A5A;
constexpr int16_t COUNT_SENTINEL = 0x7777;

enum class NullArg { kNone, kState, kFrame, kPcm, kCount };

uint32_t ExpectedStatus(NullArg null, const std::vector<uint16_t>& frame, int32_t rawType) {
  if (null == NullArg::kState) return VOICE_ERR_NULL_STATE;
  if (null == NullArg::kFrame) return VOICE_ERR_NULL_INPUT;
  if (null == NullArg::kPcm || null == NullArg::kCount) return VOICE_ERR_NULL_OUTPUT;
  if ((LoadWireWord(&frame[0]) & 0x0300) != 0x0100) return VOICE_ERR_DEC_HEADER;
  const int lengthByte = LoadWireWord(&frame[1]) & 0xFF;
  if (lengthByte == 0) return VOICE_ERR_DEC_LENGTH;
  if (!CodecTypeValid(rawType)) return VOICE_ERR_DEC_TYPE;
  const int n = lengthByte * SamplesPerPayloadWord(static_cast<int16_t>(rawType));
  if (!FrameSampleCountValid(n)) return VOICE_ERR_DEC_LENGTH;
  return VOICE_OK;
}

void DecodeOnce(StateBuffer& state, const std::vector<uint16_t>& frame, int32_t rawType,
                NullArg null) {
  const StateBuffer before = state;
  const std::vector<uint16_t> frameBefore = frame;
  std::vector<int16_t> pcm(480 + PCM_GUARD, PCM_SENTINEL);
  int16_t count = COUNT_SENTINEL;

  const uint32_t status =
      ZELK_VOICE_DecodeFrame(null == NullArg::kState ? nullptr : state.bytes,
                             null == NullArg::kFrame ? nullptr : frame.data(),
                             null == NullArg::kPcm ? nullptr : pcm.data(), rawType,
                             null == NullArg::kCount ? nullptr : &count);

  FUZZ_CHECK(status == ExpectedStatus(null, frame, rawType));
  FUZZ_CHECK(frame == frameBefore);
  if (status != VOICE_OK) {
    FUZZ_CHECK(count == (null == NullArg::kCount ? COUNT_SENTINEL : 0));
    FUZZ_CHECK(SameState(before, state));
    for (int16_t s : pcm) FUZZ_CHECK(s == PCM_SENTINEL);
    return;
  }

  const int t = static_cast<int16_t>(rawType);
  const int n = (LoadWireWord(&frame[1]) & 0xFF) * SamplesPerPayloadWord(t);
  FUZZ_CHECK(count == n);
  for (size_t i = static_cast<size_t>(n); i < pcm.size(); ++i) FUZZ_CHECK(pcm[i] == PCM_SENTINEL);
  CheckStateOwnership(before, state, t);

  // The same frame from the same state gives the same samples and state: the
  // decoder reads nothing it did not set.
  StateBuffer again = before;
  std::vector<int16_t> pcmAgain(480 + PCM_GUARD, PCM_SENTINEL);
  int16_t countAgain = 0;
  FUZZ_CHECK(ZELK_VOICE_DecodeFrame(again.bytes, frame.data(), pcmAgain.data(), rawType,
                                    &countAgain) == VOICE_OK);
  FUZZ_CHECK(countAgain == n);
  FUZZ_CHECK(pcmAgain == pcm);
  FUZZ_CHECK(SameState(again, state));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  int32_t rawType = (flags & 3) + 1;
  if (flags & 8) rawType = static_cast<int32_t>(in.Word32());
  NullArg null = NullArg::kNone;
  if (flags & 16) null = static_cast<NullArg>(1 + ((flags >> 5) & 3));

  StateBuffer state;
  std::memset(state.bytes, 0xC3, sizeof(state.bytes));
  in.Bytes(state.bytes, STATE_BLOCK_BYTES);
  if (flags & 4) CheckReset(ZELK_VOICE_DecReset, VOICE_ERR_DEC_TYPE, state, rawType);

  for (int k = 0; k < MAX_FRAMES; ++k) {
    const std::vector<uint16_t> frame = ReadFrame(in);
    DecodeOnce(state, frame, rawType, k == 0 ? null : NullArg::kNone);
    if (in.Empty()) break;
  }
  return 0;
}
