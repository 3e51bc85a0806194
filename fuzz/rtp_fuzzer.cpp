// Drives every entry point of the RTP component (payloads, transcoding,
// records) with arbitrary arguments, buffers of the exact sizes the call is
// told, and arbitrary state blocks.
//
// Input layout:
//   byte 0      bits 0-2 the call: 0 sizes, 1 EncodePayload, 2 DecodePayload,
//               3 FrameToPayload, 4 PayloadToFrame, 5 transcoding, 6 SaveRecord,
//               7 LoadRecord; bit 3 take the codec type raw from 4 more bytes;
//               bit 4 pass one null pointer, bits 5-6 say which
//   byte 1      bits 0-6: codec type 0..5 (0 and 5 invalid), unless raw;
//               bit 7: reset the state block for the codec first
//   2 bytes     a count: samples, payload, frame or record bytes (little-endian)
//   2 bytes     the output capacity
//   52 bytes    the state block
//   the rest    the input data
//
// After every call: the status is one of the call's documented codes; a
// refused call changes nothing at all; a good one writes exactly what it
// reports, within its capacity, touches only the state bytes its codec owns,
// and its result survives the way back (payload -> frame -> payload, record
// -> block -> record, encode -> decode in step; a DVI4 payload decodes the
// same from any state).
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "zelk_voice_rtp.h"

namespace {

using namespace zelk::fuzz;

constexpr uint8_t CANARY = 0x5A;

struct Args {
  uint8_t op;
  int32_t codec;
  int null;  // 0 none, 1..4: which pointer argument is null
  uint16_t count;
  uint16_t capacity;
  StateBuffer state;
  std::vector<uint8_t> data;
};

// The data of a buffer, never null: an empty one stands for a spare element
// that no call may write (checked after every input), so that a zero size is
// not mistaken for a null pointer.
uint8_t spareByte = CANARY;
int16_t spareSample = 0x5A5A;
uint16_t spareWord = 0x5A5A;
uint8_t* At(std::vector<uint8_t>& v) { return v.empty() ? &spareByte : v.data(); }
const uint8_t* At(const std::vector<uint8_t>& v) { return v.empty() ? &spareByte : v.data(); }
int16_t* At(std::vector<int16_t>& v) { return v.empty() ? &spareSample : v.data(); }
uint16_t* At(std::vector<uint16_t>& v) { return v.empty() ? &spareWord : v.data(); }

bool Valid(int32_t codec) { return codec >= G711_ALAW && codec <= ADPCM_2BIT; }

void CheckStatus(uint32_t status, std::initializer_list<uint32_t> allowed) {
  FUZZ_CHECK(status == ZELK_RTP_OK || OneOf(status, allowed));
}

// A state after a good call: only the codec's own bytes may differ.
void CheckOwned(const StateBuffer& before, const StateBuffer& after, int32_t codec) {
  CheckStateOwnership(before, after, Valid(codec) ? codec : 0);
}

void Sizes(const Args& a) {
  const size_t bytes = ZELK_RTP_PayloadBytes(a.codec, static_cast<int16_t>(a.count));
  if (bytes != 0) {
    FUZZ_CHECK(bytes <= ZELK_RTP_MAX_PAYLOAD_BYTES);
    FUZZ_CHECK(ZELK_RTP_PayloadSamples(a.codec, bytes) == static_cast<int16_t>(a.count));
  }
  const int32_t n = ZELK_RTP_PayloadSamples(a.codec, a.count);
  if (n != 0) FUZZ_CHECK(ZELK_RTP_PayloadBytes(a.codec, n) == a.count);
}

// Decodes a payload and checks the generic rules; returns the status.
uint32_t DecodeChecked(StateBuffer& state, const std::vector<uint8_t>& payload, int32_t codec,
                       size_t capacity, std::vector<int16_t>* samples) {
  const StateBuffer before = state;
  std::vector<int16_t> pcm(capacity, 0x5A5A);
  size_t count = 0xDEAD;
  const uint32_t status = ZELK_RTP_DecodePayload(state.bytes, At(payload), payload.size(), codec,
                                                 At(pcm), capacity, &count);
  CheckStatus(status, {ZELK_RTP_ERR_CODEC, ZELK_RTP_ERR_PAYLOAD_SIZE, ZELK_RTP_ERR_DVI4_INDEX,
                       ZELK_RTP_ERR_DVI4_RESERVED, ZELK_RTP_ERR_CAPACITY});
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(SameState(before, state) && count == 0xDEAD);
    for (int16_t s : pcm) FUZZ_CHECK(s == 0x5A5A);
    return status;
  }
  FUZZ_CHECK(count == static_cast<size_t>(ZELK_RTP_PayloadSamples(codec, payload.size())));
  FUZZ_CHECK(count <= capacity);
  for (size_t i = count; i < pcm.size(); ++i) FUZZ_CHECK(pcm[i] == 0x5A5A);
  CheckOwned(before, state, codec);
  if (samples != nullptr) samples->assign(pcm.begin(), pcm.begin() + static_cast<long>(count));
  return status;
}

void Encode(Args& a) {
  const size_t n =
      static_cast<int16_t>(a.count) > 0 ? static_cast<size_t>(static_cast<int16_t>(a.count)) : 0;
  std::vector<int16_t> pcm(n);
  std::memcpy(At(pcm), At(a.data), std::min(a.data.size(), n * 2));
  std::vector<uint8_t> payload(a.capacity, CANARY);
  size_t bytes = 0xDEAD;
  const StateBuffer before = a.state;
  const uint32_t status = ZELK_RTP_EncodePayload(
      a.null == 1 ? nullptr : a.state.bytes, a.null == 2 ? nullptr : At(pcm),
      static_cast<int16_t>(a.count), a.codec, a.null == 3 ? nullptr : At(payload), a.capacity,
      a.null == 4 ? nullptr : &bytes);
  CheckStatus(status, {ZELK_RTP_ERR_NULL_STATE, ZELK_RTP_ERR_NULL_INPUT, ZELK_RTP_ERR_NULL_OUTPUT,
                       ZELK_RTP_ERR_CODEC, ZELK_RTP_ERR_SAMPLES, ZELK_RTP_ERR_RECORD,
                       ZELK_RTP_ERR_CAPACITY});
  if (a.null != 0) FUZZ_CHECK(status != ZELK_RTP_OK);
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(SameState(before, a.state) && bytes == 0xDEAD);
    for (uint8_t b : payload) FUZZ_CHECK(b == CANARY);
    return;
  }
  FUZZ_CHECK(bytes == ZELK_RTP_PayloadBytes(a.codec, static_cast<int16_t>(a.count)));
  FUZZ_CHECK(bytes <= a.capacity);
  for (size_t i = bytes; i < payload.size(); ++i) FUZZ_CHECK(payload[i] == CANARY);
  CheckOwned(before, a.state, a.codec);
  // A decoder in step with the encoder decodes the payload and ends in the
  // encoder's state.
  payload.resize(bytes);
  StateBuffer dec = before;
  FUZZ_CHECK(DecodeChecked(dec, payload, a.codec, ZELK_VOICE_MAX_SAMPLES, nullptr) == ZELK_RTP_OK);
  if (a.codec == IMA_ADPCM) FUZZ_CHECK(std::memcmp(dec.bytes, a.state.bytes, 3) == 0);
  if (a.codec == ADPCM_2BIT) FUZZ_CHECK(SameState(dec, a.state));
}

void Decode(Args& a) {
  if (a.null != 0) {
    std::vector<int16_t> pcm(a.capacity, 0x5A5A);
    size_t count = 0xDEAD;
    const StateBuffer before = a.state;
    const uint32_t status = ZELK_RTP_DecodePayload(
        a.null == 1 ? nullptr : a.state.bytes, a.null == 2 ? nullptr : At(a.data), a.data.size(),
        a.codec, a.null == 3 ? nullptr : At(pcm), a.capacity, a.null == 4 ? nullptr : &count);
    FUZZ_CHECK(status == (a.null == 1   ? ZELK_RTP_ERR_NULL_STATE
                          : a.null == 2 ? ZELK_RTP_ERR_NULL_INPUT
                                        : ZELK_RTP_ERR_NULL_OUTPUT));
    FUZZ_CHECK(SameState(before, a.state) && count == 0xDEAD);
    for (int16_t s : pcm) FUZZ_CHECK(s == 0x5A5A);
    return;
  }
  std::vector<int16_t> first;
  const StateBuffer before = a.state;
  if (DecodeChecked(a.state, a.data, a.codec, a.capacity, &first) != ZELK_RTP_OK) return;
  // The same payload from the same state gives the same samples; a DVI4
  // payload gives them from any state at all.
  StateBuffer again = before;
  if (a.codec == IMA_ADPCM) {
    for (size_t i = 0; i < sizeof(again.bytes); ++i) again.bytes[i] ^= 0xFF;
  }
  std::vector<int16_t> second;
  FUZZ_CHECK(DecodeChecked(again, a.data, a.codec, a.capacity, &second) == ZELK_RTP_OK);
  FUZZ_CHECK(first == second);
}

void FrameToPayload(Args& a) {
  const size_t frameBytes = a.count;
  std::vector<uint16_t> frame((frameBytes + 1) / 2 + (frameBytes == 0 ? 1 : 0));
  std::memcpy(At(frame), At(a.data), std::min(a.data.size(), frameBytes));
  std::vector<uint8_t> payload(a.capacity, CANARY);
  size_t bytes = 0xDEAD;
  const StateBuffer before = a.state;
  const uint32_t status = ZELK_RTP_FrameToPayload(
      a.codec, a.null == 1 ? nullptr : At(frame), frameBytes, a.null == 2 ? nullptr : a.state.bytes,
      a.null == 3 ? nullptr : At(payload), a.capacity, a.null == 4 ? nullptr : &bytes);
  CheckStatus(status,
              {ZELK_RTP_ERR_NULL_STATE, ZELK_RTP_ERR_NULL_INPUT, ZELK_RTP_ERR_NULL_OUTPUT,
               ZELK_RTP_ERR_CODEC, ZELK_RTP_ERR_FRAME, ZELK_RTP_ERR_RECORD, ZELK_RTP_ERR_CAPACITY});
  FUZZ_CHECK(SameState(before, a.state));
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(bytes == 0xDEAD);
    for (uint8_t b : payload) FUZZ_CHECK(b == CANARY);
    return;
  }
  FUZZ_CHECK(a.null == 0 || (a.null == 2 && a.codec != IMA_ADPCM));
  FUZZ_CHECK(bytes <= a.capacity);
  for (size_t i = bytes; i < payload.size(); ++i) FUZZ_CHECK(payload[i] == CANARY);
  // The payload makes the same frame again, as far as a decoder looks.
  payload.resize(bytes);
  std::vector<uint16_t> back(ZELK_VOICE_MAX_FRAME_WORDS);
  size_t backBytes = 0;
  StateBuffer loaded = a.state;
  FUZZ_CHECK(ZELK_RTP_PayloadToFrame(a.codec, At(payload), payload.size(), loaded.bytes, At(back),
                                     back.size() * 2, &backBytes) == ZELK_RTP_OK);
  const size_t words = LoadWireWord(&frame[1]) & 0xFFu;
  FUZZ_CHECK(backBytes == 4 + 2 * words && LoadWireWord(&back[0]) == 0x0100 &&
             LoadWireWord(&back[1]) == words);
  FUZZ_CHECK(std::memcmp(At(back) + 2, At(frame) + 2, 2 * words) == 0);
  if (a.codec == IMA_ADPCM) FUZZ_CHECK(std::memcmp(loaded.bytes, a.state.bytes, 3) == 0);
}

void PayloadToFrame(Args& a) {
  std::vector<uint16_t> frame((a.capacity + 1) / 2, 0x5A5A);
  size_t bytes = 0xDEAD;
  const StateBuffer before = a.state;
  const uint32_t status = ZELK_RTP_PayloadToFrame(
      a.codec, a.null == 1 ? nullptr : At(a.data), a.data.size(),
      a.null == 2 ? nullptr : a.state.bytes, a.null == 3 ? nullptr : At(frame), a.capacity,
      a.null == 4 ? nullptr : &bytes);
  CheckStatus(status, {ZELK_RTP_ERR_NULL_STATE, ZELK_RTP_ERR_NULL_INPUT, ZELK_RTP_ERR_NULL_OUTPUT,
                       ZELK_RTP_ERR_CODEC, ZELK_RTP_ERR_PAYLOAD_SIZE, ZELK_RTP_ERR_DVI4_INDEX,
                       ZELK_RTP_ERR_DVI4_RESERVED, ZELK_RTP_ERR_CAPACITY});
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(SameState(before, a.state) && bytes == 0xDEAD);
    for (uint16_t w : frame) FUZZ_CHECK(w == 0x5A5A);
    return;
  }
  FUZZ_CHECK(bytes <= a.capacity && bytes % 2 == 0);
  for (size_t i = bytes / 2; i < frame.size(); ++i) FUZZ_CHECK(frame[i] == 0x5A5A);
  CheckOwned(before, a.state, a.codec);
  if (a.codec != IMA_ADPCM) FUZZ_CHECK(SameState(before, a.state));
  // The engine decodes the frame as DecodePayload decodes the payload.
  StateBuffer viaFrame = a.state, viaPayload = before;
  int16_t fromFrame[ZELK_VOICE_MAX_SAMPLES];
  int16_t count = 0;
  FUZZ_CHECK(ZELK_VOICE_DecodeFrame(viaFrame.bytes, At(frame), fromFrame, a.codec, &count) ==
             VOICE_OK);
  std::vector<int16_t> fromPayload;
  FUZZ_CHECK(DecodeChecked(viaPayload, a.data, a.codec, ZELK_VOICE_MAX_SAMPLES, &fromPayload) ==
             ZELK_RTP_OK);
  FUZZ_CHECK(fromPayload.size() == static_cast<size_t>(count));
  FUZZ_CHECK(std::memcmp(fromPayload.data(), fromFrame, 2 * fromPayload.size()) == 0);
  FUZZ_CHECK(SameState(viaFrame, viaPayload));
}

void Transcode(Args& a) {
  const bool toUlaw = (a.codec & 1) != 0;
  const size_t count = std::min<size_t>(a.count, a.data.size());
  std::vector<uint8_t> out(a.capacity, CANARY);
  const auto fn = toUlaw ? ZELK_RTP_AlawToUlaw : ZELK_RTP_UlawToAlaw;
  const uint32_t status =
      fn(a.null == 1 ? nullptr : At(a.data), count, a.null == 2 ? nullptr : At(out), a.capacity);
  CheckStatus(status, {ZELK_RTP_ERR_NULL_INPUT, ZELK_RTP_ERR_NULL_OUTPUT, ZELK_RTP_ERR_CAPACITY});
  FUZZ_CHECK((status == ZELK_RTP_OK) == (a.null != 1 && a.null != 2 && count <= a.capacity));
  for (size_t i = status == ZELK_RTP_OK ? count : 0; i < out.size(); ++i) {
    FUZZ_CHECK(out[i] == CANARY);
  }
  if (status != ZELK_RTP_OK) return;
  // In place gives the same, and every code keeps its sign.
  std::vector<uint8_t> inPlace(a.data.begin(), a.data.begin() + static_cast<long>(count));
  FUZZ_CHECK(fn(At(inPlace), count, At(inPlace), count) == ZELK_RTP_OK);
  for (size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(inPlace[i] == out[i] && (out[i] & 0x80) == (a.data[i] & 0x80));
  }
}

void SaveRecord(Args& a) {
  std::vector<uint8_t> record(a.capacity, CANARY);
  size_t bytes = 0xDEAD;
  const StateBuffer before = a.state;
  const uint32_t status = ZELK_RTP_SaveRecord(a.null == 1 ? nullptr : a.state.bytes, a.codec,
                                              a.null == 2 ? nullptr : At(record), a.capacity,
                                              a.null == 3 ? nullptr : &bytes);
  CheckStatus(status, {ZELK_RTP_ERR_NULL_STATE, ZELK_RTP_ERR_NULL_OUTPUT, ZELK_RTP_ERR_CODEC,
                       ZELK_RTP_ERR_RECORD, ZELK_RTP_ERR_CAPACITY});
  FUZZ_CHECK(SameState(before, a.state));
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(bytes == 0xDEAD);
    for (uint8_t b : record) FUZZ_CHECK(b == CANARY);
    return;
  }
  FUZZ_CHECK(bytes <= a.capacity && bytes <= ZELK_RTP_MAX_RECORD_BYTES);
  for (size_t i = bytes; i < record.size(); ++i) FUZZ_CHECK(record[i] == CANARY);
  // Every saved record loads, onto any block, into the same bytes.
  StateBuffer other;
  std::memset(other.bytes, 0xE7, sizeof(other.bytes));
  const StateBuffer otherBefore = other;
  FUZZ_CHECK(ZELK_RTP_LoadRecord(other.bytes, a.codec, At(record), bytes) == ZELK_RTP_OK);
  CheckOwned(otherBefore, other, a.codec);
  for (size_t i = 0; i < STATE_BLOCK_BYTES; ++i) {
    if (StateByteOwned(a.codec, i)) FUZZ_CHECK(other.bytes[i] == a.state.bytes[i]);
  }
}

void LoadRecord(Args& a) {
  const size_t bytes = std::min<size_t>(a.count, a.data.size());
  const std::vector<uint8_t> record(a.data.begin(), a.data.begin() + static_cast<long>(bytes));
  const StateBuffer before = a.state;
  const uint32_t status = ZELK_RTP_LoadRecord(a.null == 1 ? nullptr : a.state.bytes, a.codec,
                                              a.null == 2 ? nullptr : At(record), record.size());
  CheckStatus(status, {ZELK_RTP_ERR_NULL_STATE, ZELK_RTP_ERR_NULL_INPUT, ZELK_RTP_ERR_CODEC,
                       ZELK_RTP_ERR_RECORD_SIZE, ZELK_RTP_ERR_RECORD});
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(SameState(before, a.state));
    return;
  }
  CheckOwned(before, a.state, a.codec);
  // What was loaded is what saves.
  std::vector<uint8_t> saved(ZELK_RTP_MAX_RECORD_BYTES);
  size_t savedBytes = 0;
  FUZZ_CHECK(ZELK_RTP_SaveRecord(a.state.bytes, a.codec, At(saved), saved.size(), &savedBytes) ==
             ZELK_RTP_OK);
  saved.resize(savedBytes);
  FUZZ_CHECK(saved == record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  Args a;
  const uint8_t flags = in.Byte();
  a.op = flags & 7;
  const uint8_t codecByte = in.Byte();
  a.codec = (codecByte & 0x7F) % 6;
  if (flags & 8) a.codec = static_cast<int32_t>(in.Word32());
  a.null = (flags & 16) ? 1 + ((flags >> 5) & 3) : 0;
  a.count = in.Word16();
  a.capacity = static_cast<uint16_t>(in.Word16() % 1024);
  std::memset(a.state.bytes, 0xC3, sizeof(a.state.bytes));
  in.Bytes(a.state.bytes, STATE_BLOCK_BYTES);
  if ((codecByte & 0x80) && Valid(a.codec)) ZELK_VOICE_EncReset(a.state.bytes, a.codec);
  while (!in.Empty()) a.data.push_back(in.Byte());

  switch (a.op) {
    case 0:
      Sizes(a);
      break;
    case 1:
      Encode(a);
      break;
    case 2:
      Decode(a);
      break;
    case 3:
      FrameToPayload(a);
      break;
    case 4:
      PayloadToFrame(a);
      break;
    case 5:
      Transcode(a);
      break;
    case 6:
      SaveRecord(a);
      break;
    default:
      LoadRecord(a);
      break;
  }
  FUZZ_CHECK(spareByte == CANARY && spareSample == 0x5A5A && spareWord == 0x5A5A);
  return 0;
}
