#include "codec/ima_adpcm/ima_adpcm.h"

#include <cstring>

#include "codec/fixed_point.h"
#include "frame/voice_frame.h"

namespace zelk {
namespace {

// Both coders walk a table of "rows", one row of 16 entries per step index,
// one entry per code. An entry holds what the code leads to, so each sample
// costs one load on the chain that runs from code to code instead of an index
// update, a clamp and a step lookup. Rows are addressed by their first entry
// (16 * step index).
constexpr int32_t RowOf(int32_t stepIndex) noexcept { return stepIndex * 16; }

constexpr int32_t NextStepIndex(int32_t stepIndex, uint32_t code) noexcept {
  return Clamp(stepIndex + IMA_INDEX_TABLE[code], 0, IMA_MAX_STEP_INDEX);
}

// The signed change of the prediction that `code` makes at step `step`:
// step/8 plus step, step/2 and step/4 for magnitude bits 2, 1 and 0.
constexpr int32_t Delta(int32_t step, uint32_t code) noexcept {
  int32_t diff = ShiftRight(step, 3);
  if (code & 4) diff += step;
  if (code & 2) diff += ShiftRight(step, 1);
  if (code & 1) diff += ShiftRight(step, 2);
  return (code & 8) ? -diff : diff;
}

// Encoder entry: the step and row that follow a code.
struct EncodeEntry {
  uint16_t step;
  uint16_t row;
};

// Decoder entry: the code's change of the prediction at this row's step, and
// the row that follows.
struct DecodeEntry {
  int32_t delta;
  int32_t row;
};

constexpr int TABLE_ENTRIES = IMA_STEP_COUNT * 16;

constexpr std::array<EncodeEntry, TABLE_ENTRIES> MakeEncodeTable() {
  std::array<EncodeEntry, TABLE_ENTRIES> table{};
  for (int32_t i = 0; i < IMA_STEP_COUNT; ++i) {
    for (uint32_t code = 0; code < 16; ++code) {
      const int32_t next = NextStepIndex(i, code);
      table[static_cast<size_t>(RowOf(i)) + code] = {
          static_cast<uint16_t>(IMA_STEP_TABLE[static_cast<size_t>(next)]),
          static_cast<uint16_t>(RowOf(next))};
    }
  }
  return table;
}

constexpr std::array<DecodeEntry, TABLE_ENTRIES> MakeDecodeTable() {
  std::array<DecodeEntry, TABLE_ENTRIES> table{};
  for (int32_t i = 0; i < IMA_STEP_COUNT; ++i) {
    for (uint32_t code = 0; code < 16; ++code) {
      table[static_cast<size_t>(RowOf(i)) + code] = {
          Delta(IMA_STEP_TABLE[static_cast<size_t>(i)], code), RowOf(NextStepIndex(i, code))};
    }
  }
  return table;
}

constexpr std::array<EncodeEntry, TABLE_ENTRIES> IMA_ENCODE_TABLE = MakeEncodeTable();
constexpr std::array<DecodeEntry, TABLE_ENTRIES> IMA_DECODE_TABLE = MakeDecodeTable();

static_assert(IMA_STEP_TABLE[0] == 7 && IMA_STEP_TABLE[IMA_MAX_STEP_INDEX] == 32767);
static_assert(IMA_DECODE_TABLE[RowOf(88) + 7].delta == 32767 / 8 + 32767 + 32767 / 2 + 32767 / 4);

constexpr int32_t ClampToSample(int32_t v) noexcept { return Clamp(v, -32768, 32767); }

// The coder's working registers for one block.
struct Coder {
  int32_t predictor;
  int32_t row;
  int32_t step;
};

Coder LoadCoder(const void* stateBlock) noexcept {
  const ImaAdpcmState s = ImaAdpcmLoad(stateBlock);
  return {s.predictor, RowOf(s.stepIndex), IMA_STEP_TABLE[static_cast<size_t>(s.stepIndex)]};
}

void StoreCoder(void* stateBlock, const Coder& c) noexcept {
  ImaAdpcmStore(stateBlock, {static_cast<int16_t>(c.predictor), static_cast<int8_t>(c.row / 16)});
}

// One sample. The successive approximation (compare with the step, then half,
// then a quarter of it, taking off what was matched) is written so that it
// compiles to conditional moves: on speech each of its comparisons is a coin
// toss that a branch would mispredict. Each code bit is its comparison's
// outcome as a number; only the remainder is selected. The remainder also
// gives the reconstruction, prediction +/- diff = x -/+ (remainder - step/8).
inline uint32_t EncodeSample(int32_t x, Coder& c) noexcept {
  const int32_t d = x - c.predictor;  // -65535..65535
  const bool below = d < 0;
  int32_t rest = below ? -d : d;
  const int32_t step = c.step;
  const int32_t half = ShiftRight(step, 1);
  const int32_t quarter = ShiftRight(half, 1);

  int32_t t = rest - step;
  const bool bit2 = t >= 0;
  rest = bit2 ? t : rest;
  t = rest - half;
  const bool bit1 = t >= 0;
  rest = bit1 ? t : rest;
  t = rest - quarter;
  const bool bit0 = t >= 0;
  rest = bit0 ? t : rest;
  const uint32_t code = uint32_t{below} << 3 | uint32_t{bit2} << 2 | uint32_t{bit1} << 1 | bit0;

  const int32_t move = ShiftRight(step, 3) - rest;
  c.predictor = ClampToSample(below ? x - move : x + move);
  const EncodeEntry& e = IMA_ENCODE_TABLE[static_cast<size_t>(c.row) + code];
  c.step = e.step;
  c.row = e.row;
  return code;
}

inline int16_t DecodeSample(uint32_t code, Coder& c) noexcept {
  const DecodeEntry& e = IMA_DECODE_TABLE[static_cast<size_t>(c.row) + code];
  c.predictor = ClampToSample(c.predictor + e.delta);
  c.row = e.row;
  return static_cast<int16_t>(c.predictor);
}

}  // namespace

ImaAdpcmState ImaAdpcmLoad(const void* stateBlock) noexcept {
  const auto* bytes = static_cast<const unsigned char*>(stateBlock);
  int16_t predictor;
  int8_t stepIndex;
  std::memcpy(&predictor, bytes + offsetof(ImaAdpcmState, predictor), sizeof predictor);
  std::memcpy(&stepIndex, bytes + offsetof(ImaAdpcmState, stepIndex), sizeof stepIndex);
  return {predictor, static_cast<int8_t>(Clamp(stepIndex, 0, IMA_MAX_STEP_INDEX))};
}

void ImaAdpcmStore(void* stateBlock, ImaAdpcmState state) noexcept {
  auto* bytes = static_cast<unsigned char*>(stateBlock);
  std::memcpy(bytes + offsetof(ImaAdpcmState, predictor), &state.predictor, sizeof state.predictor);
  std::memcpy(bytes + offsetof(ImaAdpcmState, stepIndex), &state.stepIndex, sizeof state.stepIndex);
}

void ImaAdpcmClear(void* stateBlock) noexcept { ImaAdpcmStore(stateBlock, {0, 0}); }

void ImaAdpcmEncode(const int16_t* pcm, uint8_t* codeBytes, int n, void* stateBlock) noexcept {
  if (n <= 0) return;
  Coder c = LoadCoder(stateBlock);
  const int pairs = n / 2;
  for (int j = 0; j < pairs; ++j) {
    const uint32_t high = EncodeSample(pcm[2 * j], c);
    const uint32_t low = EncodeSample(pcm[2 * j + 1], c);
    codeBytes[j] = static_cast<uint8_t>(high << 4 | low);
  }
  if (n % 2 != 0) codeBytes[pairs] = static_cast<uint8_t>(EncodeSample(pcm[n - 1], c) << 4);
  StoreCoder(stateBlock, c);
}

void ImaAdpcmDecode(const uint8_t* codeBytes, int16_t* pcm, int n, void* stateBlock) noexcept {
  if (n <= 0) return;
  Coder c = LoadCoder(stateBlock);
  const int pairs = n / 2;
  for (int j = 0; j < pairs; ++j) {
    const uint32_t b = codeBytes[j];
    pcm[2 * j] = DecodeSample(b >> 4, c);
    pcm[2 * j + 1] = DecodeSample(b & 15u, c);
  }
  if (n % 2 != 0) pcm[n - 1] = DecodeSample(uint32_t{codeBytes[pairs]} >> 4, c);
  StoreCoder(stateBlock, c);
}

void ImaAdpcmEncodeFrame(void* stateBlock, const int16_t* pcm, int n, uint16_t* frame) noexcept {
  uint8_t codeBytes[FRAME_MAX_SAMPLES / 2];
  ImaAdpcmEncode(pcm, codeBytes, n, stateBlock);
  FramePackIma(codeBytes, n, frame);
}

void ImaAdpcmDecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept {
  uint8_t codeBytes[FRAME_MAX_SAMPLES / 2];
  FrameUnpackIma(frame, codeBytes);
  ImaAdpcmDecode(codeBytes, pcm, 4 * FrameLengthByte(frame), stateBlock);
}

}  // namespace zelk
