// Drives the concealing receiver with arbitrary sequences of frames,
// payloads, losses and bad calls, from a reset block or from a reset block
// whose record the input has partly overwritten.
//
// Input layout:
//   byte 0      bits 0-1 codec type - 1; bit 2 overwrite part of the record
//               after the reset; bit 3 take the block size from 2 more bytes
//   [2 bytes]   the block size told to every call (little-endian), if bit 3
//   [3+ bytes]  if bit 2: offset (2 bytes, little-endian, taken modulo the
//               block), length (1 byte), then that many bytes
//   operations  each: one byte, bits 0-1 the call (0 ReceiveFrame, 1
//               ReceivePayload, 2 ConcealLoss, 3 the same with one null
//               pointer, bits 4-5 which call), bits 2-3 the capacity (0
//               exact, 1 one short, 2 480, 3 from the next byte), then:
//                 frame    header word, length word, 2 * (length byte) bytes
//                 payload  length (2 bytes, modulo 600), the bytes
//                 conceal  count (2 bytes, as a signed 16-bit number)
//
// After every call: the status is one the call documents; a refused call
// changes nothing (block, guard bytes, samples, count); a good one writes
// exactly the samples it reports and no byte past ZELK_RTP_RECEIVER_SIZE, and
// gives the same block and samples when repeated on a copy. While nothing
// has been lost, every sample equals the plain engine decoder's; from 60 ms of
// continuous loss on every concealed sample is 0.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "zelk_voice_rtp.h"

namespace {

using namespace zelk::fuzz;

constexpr size_t GUARD = 32;
constexpr uint8_t CANARY = 0xC5;
constexpr int16_t PCM_CANARY = 0x5AA5;
constexpr size_t COUNT_CANARY = 0xDEAD;
constexpr int MAX_OPS = 40;

struct alignas(8) Receiver {
  uint8_t bytes[ZELK_RTP_RECEIVER_SIZE + GUARD];
};

bool Same(const Receiver& a, const Receiver& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

bool GuardIntact(const Receiver& r) {
  for (size_t i = ZELK_RTP_RECEIVER_SIZE; i < sizeof r.bytes; ++i) {
    if (r.bytes[i] != CANARY) return false;
  }
  return true;
}

struct Model {
  int32_t codec;
  size_t blockSize;
  bool overwritten;
  bool everLost = false;
  int32_t lostRun = 0;     // samples concealed since the last good packet
  VoiceCodecState shadow;  // the plain decoder, fed every good frame
};

size_t Capacity(ByteReader& in, int mode, size_t exact) {
  switch (mode) {
    case 0:
      return exact;
    case 1:
      return exact > 0 ? exact - 1 : 0;
    case 2:
      return ZELK_VOICE_MAX_SAMPLES;
    default:
      return in.Byte() * 2u;
  }
}

struct Result {
  uint32_t status;
  std::vector<int16_t> pcm;  // the samples written, when the call succeeded
};

// Runs one call on r, and again on a copy of r as it was; checks that a
// refused call changed nothing and a good one wrote exactly its samples.
// `count` is where the call reports its samples (null: it writes `told`).
template <typename Call>
Result Checked(Receiver& r, size_t capacity, bool reports, size_t told, Call&& call) {
  std::vector<int16_t> pcm(capacity + GUARD, PCM_CANARY);
  size_t count = COUNT_CANARY;
  const Receiver before = r;
  const uint32_t status = call(r, pcm.data(), capacity, &count);
  FUZZ_CHECK(GuardIntact(r));
  if (status != ZELK_RTP_OK) {
    FUZZ_CHECK(Same(before, r));
    for (int16_t v : pcm) FUZZ_CHECK(v == PCM_CANARY);
    FUZZ_CHECK(count == COUNT_CANARY);
    return {status, {}};
  }
  const size_t written = reports ? count : told;
  FUZZ_CHECK(written >= 1 && written <= capacity && written <= ZELK_VOICE_MAX_SAMPLES);
  for (size_t i = written; i < pcm.size(); ++i) FUZZ_CHECK(pcm[i] == PCM_CANARY);
  Receiver again = before;
  std::vector<int16_t> pcmAgain(capacity + GUARD, PCM_CANARY);
  size_t countAgain = COUNT_CANARY;
  FUZZ_CHECK(call(again, pcmAgain.data(), capacity, &countAgain) == ZELK_RTP_OK);
  FUZZ_CHECK(Same(again, r));
  FUZZ_CHECK(pcmAgain == pcm && countAgain == count);
  pcm.resize(written);
  return {status, pcm};
}

void ReceiveFrameOp(ByteReader& in, Receiver& r, Model& m, uint8_t op, int nul) {
  const std::vector<uint16_t> frame = ReadFrame(in);
  const unsigned header = LoadWireWord(&frame[0]), lengthByte = LoadWireWord(&frame[1]) & 0xFF;
  const int n = static_cast<int>(lengthByte) * SamplesPerPayloadWord(m.codec);
  const bool frameOk = (header & 0x0300) == 0x0100 && FrameSampleCountValid(n);
  const size_t capacity = Capacity(in, (op >> 2) & 3, frameOk ? static_cast<size_t>(n) : 160);
  const Result res =
      Checked(r, capacity, true, 0, [&](Receiver& b, int16_t* pcm, size_t cap, size_t* count) {
        return ZELK_RTP_ReceiveFrame(b.bytes, m.blockSize, nul == 1 ? nullptr : frame.data(),
                                     2 * frame.size(), nul == 2 ? nullptr : pcm, cap,
                                     nul == 3 ? nullptr : count);
      });
  if (nul != 0) {
    FUZZ_CHECK(res.status == (nul == 1 ? ZELK_RTP_ERR_NULL_INPUT : ZELK_RTP_ERR_NULL_OUTPUT));
    return;
  }
  uint32_t expected = ZELK_RTP_OK;
  if (m.blockSize < ZELK_RTP_RECEIVER_SIZE) {
    expected = ZELK_RTP_ERR_STATE_SIZE;
  } else if (m.overwritten && res.status == ZELK_RTP_ERR_NOT_RESET) {
    expected = ZELK_RTP_ERR_NOT_RESET;
  } else if (!frameOk) {
    expected = ZELK_RTP_ERR_FRAME;
  } else if (capacity < static_cast<size_t>(n)) {
    expected = ZELK_RTP_ERR_CAPACITY;
  }
  if (m.overwritten && m.blockSize >= ZELK_RTP_RECEIVER_SIZE) {
    // An overwritten record may name another codec, which reads the same
    // frame as another sample count: only the documented statuses are sure.
    FUZZ_CHECK(OneOf(res.status, {ZELK_RTP_OK, ZELK_RTP_ERR_NOT_RESET, ZELK_RTP_ERR_FRAME,
                                  ZELK_RTP_ERR_CAPACITY}));
    return;
  }
  FUZZ_CHECK(res.status == expected);
  if (res.status != ZELK_RTP_OK) return;
  FUZZ_CHECK(res.pcm.size() == static_cast<size_t>(n));
  if (!m.everLost && !m.overwritten) {
    // Nothing lost yet: the receiver is the engine's decoder, bit for bit.
    int16_t plain[ZELK_VOICE_MAX_SAMPLES];
    int16_t plainCount = 0;
    FUZZ_CHECK(ZELK_VOICE_DecodeFrame(&m.shadow, frame.data(), plain, m.codec, &plainCount) ==
               VOICE_OK);
    FUZZ_CHECK(plainCount == n && std::memcmp(plain, res.pcm.data(), 2 * res.pcm.size()) == 0);
  }
  m.lostRun = 0;
}

void ReceivePayloadOp(ByteReader& in, Receiver& r, Model& m, uint8_t op, int nul) {
  const size_t bytes = size_t{in.Word16()} % 600;
  std::vector<uint8_t> payload(bytes + 1);  // never empty, so never a null pointer
  in.Bytes(payload.data(), bytes);
  const size_t capacity = Capacity(in, (op >> 2) & 3, 480);
  const Result res =
      Checked(r, capacity, true, 0, [&](Receiver& b, int16_t* pcm, size_t cap, size_t* count) {
        return ZELK_RTP_ReceivePayload(b.bytes, m.blockSize, nul == 1 ? nullptr : payload.data(),
                                       bytes, nul == 2 ? nullptr : pcm, cap,
                                       nul == 3 ? nullptr : count);
      });
  if (nul != 0) {
    FUZZ_CHECK(res.status == (nul == 1 ? ZELK_RTP_ERR_NULL_INPUT : ZELK_RTP_ERR_NULL_OUTPUT));
    return;
  }
  const int32_t n = ZELK_RTP_PayloadSamples(m.codec, bytes);
  if (m.overwritten && m.blockSize >= ZELK_RTP_RECEIVER_SIZE) {
    // As for frames: an overwritten record may name another codec.
    FUZZ_CHECK(OneOf(res.status,
                     {ZELK_RTP_OK, ZELK_RTP_ERR_NOT_RESET, ZELK_RTP_ERR_PAYLOAD_SIZE,
                      ZELK_RTP_ERR_DVI4_INDEX, ZELK_RTP_ERR_DVI4_RESERVED, ZELK_RTP_ERR_CAPACITY}));
    if (res.status == ZELK_RTP_OK) m.everLost = true;
    return;
  }
  if (res.status == ZELK_RTP_OK) {
    FUZZ_CHECK(m.blockSize >= ZELK_RTP_RECEIVER_SIZE);
    FUZZ_CHECK(n > 0 && res.pcm.size() == static_cast<size_t>(n) && capacity >= res.pcm.size());
    m.everLost = true;  // the shadow decoder follows frames only
    m.lostRun = 0;
    return;
  }
  FUZZ_CHECK(OneOf(res.status,
                   {ZELK_RTP_ERR_STATE_SIZE, ZELK_RTP_ERR_NOT_RESET, ZELK_RTP_ERR_PAYLOAD_SIZE,
                    ZELK_RTP_ERR_DVI4_INDEX, ZELK_RTP_ERR_DVI4_RESERVED, ZELK_RTP_ERR_CAPACITY}));
  if (res.status == ZELK_RTP_ERR_STATE_SIZE) FUZZ_CHECK(m.blockSize < ZELK_RTP_RECEIVER_SIZE);
  if (res.status == ZELK_RTP_ERR_NOT_RESET) FUZZ_CHECK(m.overwritten);
  if (res.status == ZELK_RTP_ERR_PAYLOAD_SIZE) FUZZ_CHECK(n == 0);
  if (res.status == ZELK_RTP_ERR_CAPACITY) FUZZ_CHECK(capacity < static_cast<size_t>(n));
}

void ConcealOp(ByteReader& in, Receiver& r, Model& m, uint8_t op, int nul) {
  const auto count = static_cast<int16_t>(in.Word16());
  const size_t told = count > 0 ? static_cast<size_t>(count) : 1;
  const size_t capacity = Capacity(in, (op >> 2) & 3, told);
  const Result res =
      Checked(r, capacity, false, told, [&](Receiver& b, int16_t* pcm, size_t cap, size_t*) {
        return ZELK_RTP_ConcealLoss(nul == 1 ? nullptr : b.bytes, m.blockSize, count,
                                    nul == 2 ? nullptr : pcm, cap);
      });
  if (nul != 0) {
    FUZZ_CHECK(res.status == (nul == 1 ? ZELK_RTP_ERR_NULL_STATE : ZELK_RTP_ERR_NULL_OUTPUT));
    return;
  }
  if (res.status != ZELK_RTP_OK) {
    FUZZ_CHECK(OneOf(res.status, {ZELK_RTP_ERR_STATE_SIZE, ZELK_RTP_ERR_NOT_RESET,
                                  ZELK_RTP_ERR_SAMPLES, ZELK_RTP_ERR_CAPACITY}));
    if (res.status == ZELK_RTP_ERR_SAMPLES) FUZZ_CHECK(count < 1 || count > 480);
    if (res.status == ZELK_RTP_ERR_NOT_RESET) FUZZ_CHECK(m.overwritten);
    return;
  }
  FUZZ_CHECK(count >= 1 && count <= 480 && capacity >= told);
  if (!m.overwritten) {
    // Silent from 60 ms of continuous loss on.
    for (size_t i = 0; i < res.pcm.size(); ++i) {
      if (m.lostRun + static_cast<int32_t>(i) >= 480) FUZZ_CHECK(res.pcm[i] == 0);
    }
  }
  m.everLost = true;
  m.lostRun += count;
}

void OneOperation(ByteReader& in, Receiver& r, Model& m) {
  const uint8_t op = in.Byte();
  int call = op & 3;
  int nul = 0;
  if (call == 3) {
    call = (op >> 4) % 3;
    nul = 1 + (op >> 6) % (call == 2 ? 2 : 3);
  }
  if (call == 0) ReceiveFrameOp(in, r, m, op, nul);
  if (call == 1) ReceivePayloadOp(in, r, m, op, nul);
  if (call == 2) ConcealOp(in, r, m, op, nul);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  Model m;
  m.codec = (flags & 3) + 1;
  m.blockSize = ZELK_RTP_RECEIVER_SIZE;
  if (flags & 8) m.blockSize = in.Word16();
  m.overwritten = false;
  ZELK_VOICE_DecReset(&m.shadow, m.codec);

  Receiver r;
  std::memset(r.bytes, CANARY, sizeof r.bytes);
  FUZZ_CHECK(ZELK_RTP_ReceiverReset(r.bytes, ZELK_RTP_RECEIVER_SIZE, m.codec) == ZELK_RTP_OK);
  FUZZ_CHECK(GuardIntact(r));
  if (flags & 4) {
    const size_t at = in.Word16() % ZELK_RTP_RECEIVER_SIZE;
    const size_t len = in.Byte();
    for (size_t i = 0; i < len && at + i < ZELK_RTP_RECEIVER_SIZE; ++i) r.bytes[at + i] = in.Byte();
    m.overwritten = true;
  }
  for (int k = 0; k < MAX_OPS && !in.Empty(); ++k) OneOperation(in, r, m);
  return 0;
}
