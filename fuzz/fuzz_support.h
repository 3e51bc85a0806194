// Shared pieces of the fuzz targets: a byte reader over the fuzzer's input, a
// check that aborts loudly (so both libFuzzer and the plain replay program
// report it), and the model of what a call may change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "frame_bytes.h"
#include "zelk_voice_engine.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

namespace zelk::fuzz {

// Reads the input front to back; past its end every read yields zeros, so
// any input, however short, drives a complete call.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // Little-endian, the first byte the low one.
  uint16_t Word16() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }

  uint32_t Word32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }

  void Bytes(void* out, size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < n; ++i) p[i] = Byte();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A state block with room past its 52 bytes, so that a write beyond the block
// lands on sentinel bytes instead of going unseen.
inline constexpr size_t STATE_BLOCK_BYTES = ZELK_VOICE_STATE_SIZE;
inline constexpr size_t STATE_GUARD_BYTES = 12;

struct alignas(8) StateBuffer {
  uint8_t bytes[STATE_BLOCK_BYTES + STATE_GUARD_BYTES];
};

// The bytes of a block that a codec may write. IMA ADPCM keeps its predictor
// and step index in bytes 0..2; the two-bit coder keeps everything but bytes
// 46..47 of the block; G.711 has no state at all.
constexpr bool StateByteOwned(int codecType, size_t byte) {
  switch (codecType) {
    case IMA_ADPCM:
      return byte <= 2;
    case ADPCM_2BIT:
      return byte <= 45 || (byte >= 48 && byte <= 51);
    default:
      return false;
  }
}

// Every byte the codec does not own, guard bytes included, is as it was.
inline void CheckStateOwnership(const StateBuffer& before, const StateBuffer& after,
                                int codecType) {
  for (size_t i = 0; i < sizeof(before.bytes); ++i) {
    if (!StateByteOwned(codecType, i)) FUZZ_CHECK(before.bytes[i] == after.bytes[i]);
  }
}

inline bool SameState(const StateBuffer& a, const StateBuffer& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof(a.bytes)) == 0;
}

constexpr bool CodecTypeValid(int32_t rawType) {
  const auto t = static_cast<int16_t>(rawType);
  return t >= G711_ALAW && t <= ADPCM_2BIT;
}

constexpr int SamplesPerPayloadWord(int codecType) {
  return codecType == IMA_ADPCM ? 4 : (codecType == ADPCM_2BIT ? 8 : 2);
}

constexpr bool FrameSampleCountValid(int n) { return n >= 80 && n <= 480 && n % 80 == 0; }

using zelk::testing::LoadWireWord;

// The frame exactly as long as its length byte says, so that any read past
// 2 + L words leaves the allocation.
inline std::vector<uint16_t> ReadFrame(ByteReader& in) {
  uint16_t head[2];
  in.Bytes(head, sizeof(head));
  std::vector<uint16_t> frame(2 + (LoadWireWord(&head[1]) & 0xFF));
  frame[0] = head[0];
  frame[1] = head[1];
  in.Bytes(frame.data() + 2, (frame.size() - 2) * sizeof(uint16_t));
  return frame;
}

inline bool OneOf(uint32_t status, std::initializer_list<uint32_t> allowed) {
  for (uint32_t a : allowed) {
    if (status == a) return true;
  }
  return false;
}

// A reset must not remember what the block held: two blocks with different
// contents agree on every owned byte afterwards, and neither changes a byte
// the codec does not own. A bad type changes nothing.
using ResetFunction = uint32_t(ZELK_VOICE_CALL*)(void*, int32_t);
inline void CheckReset(ResetFunction reset, uint32_t badTypeStatus, StateBuffer& state,
                       int32_t rawType) {
  const StateBuffer before = state;
  StateBuffer other;
  for (size_t i = 0; i < sizeof(other.bytes); ++i) {
    other.bytes[i] = static_cast<uint8_t>(~state.bytes[i]);
  }
  const StateBuffer otherBefore = other;
  const uint32_t status = reset(state.bytes, rawType);
  FUZZ_CHECK(reset(other.bytes, rawType) == status);
  if (!CodecTypeValid(rawType)) {
    FUZZ_CHECK(status == badTypeStatus);
    FUZZ_CHECK(SameState(before, state));
    return;
  }
  FUZZ_CHECK(status == VOICE_OK);
  const int t = static_cast<int16_t>(rawType);
  CheckStateOwnership(before, state, t);
  CheckStateOwnership(otherBefore, other, t);
  for (size_t i = 0; i < STATE_BLOCK_BYTES; ++i) {
    if (StateByteOwned(t, i)) FUZZ_CHECK(state.bytes[i] == other.bytes[i]);
  }
}

}  // namespace zelk::fuzz
