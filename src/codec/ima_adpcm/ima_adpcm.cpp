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

// ---- The encoder for blocks that never reach the clamp ---------------------
//
// The coder above runs one chain from sample to sample: the prediction gives
// the difference, its three comparisons give the code, the code gives the next
// prediction (clamped) and, through a table load, the next step. The coder
// below shortens both halves of that chain for the usual case.
//
// The clamp never acts while every sample keeps STEP_MAX / 8 away from the
// ends of the 16-bit range. With rest the remainder of the successive
// approximation, the new prediction is x +/- (step / 8 - rest): when rest is
// at least step / 8 it lies between the old prediction and x, both in range;
// otherwise it passes x by at most step / 8 <= 4095. A block whose samples all
// lie in NO_CLAMP_MIN..NO_CLAMP_MAX can therefore skip the clamp, and the
// prediction itself drops out: the next difference is
//   x' - P' = (x' - x) -/+ step / 8 +/- rest,
// one addition after the remainder instead of a clamp and a subtraction.
//
// The next step comes from a row per step index: eight entries, one per
// magnitude, each holding the byte offset of the row of the step index that
// the magnitude leads to, that step and the magnitude itself. All eight are
// loaded as soon as the row is known and narrowed down by conditional moves
// as the three comparisons come in, so the last comparison is one selection
// away from the next step instead of a code assembly and a load. The row
// offset sits in the low half of an entry, where it serves as an address
// without being extracted.

constexpr int32_t MAX_EIGHTH = ShiftRight(IMA_STEP_TABLE[IMA_MAX_STEP_INDEX], 3);
constexpr int32_t NO_CLAMP_MIN = -32768 + MAX_EIGHTH;
constexpr int32_t NO_CLAMP_MAX = 32767 - MAX_EIGHTH;

// Entry: bits 0..31 the next row's byte offset, 32..34 the magnitude, 48..63
// the next step.
constexpr int ENTRY_MAGNITUDE_SHIFT = 32;
constexpr int ENTRY_STEP_SHIFT = 48;
constexpr size_t ROW_BYTES = 8 * sizeof(uint64_t);

constexpr uint64_t RowBytes(int32_t stepIndex) noexcept {
  return static_cast<uint64_t>(stepIndex) * ROW_BYTES;
}

using MagnitudeRows = std::array<uint64_t, IMA_STEP_COUNT * 8>;

constexpr MagnitudeRows MakeMagnitudeRows() {
  MagnitudeRows rows{};
  for (int32_t i = 0; i < IMA_STEP_COUNT; ++i) {
    for (uint32_t m = 0; m < 8; ++m) {
      const int32_t next = NextStepIndex(i, m);
      rows[static_cast<size_t>(i) * 8 + m] =
          RowBytes(next) | uint64_t{m} << ENTRY_MAGNITUDE_SHIFT |
          static_cast<uint64_t>(IMA_STEP_TABLE[static_cast<size_t>(next)]) << ENTRY_STEP_SHIFT;
    }
  }
  return rows;
}

alignas(64) constexpr MagnitudeRows IMA_MAGNITUDE_ROWS = MakeMagnitudeRows();

static_assert(IMA_MAGNITUDE_ROWS[88 * 8 + 7] ==
              (RowBytes(88) | 7ull << ENTRY_MAGNITUDE_SHIFT | 32767ull << ENTRY_STEP_SHIFT));
static_assert(IMA_MAGNITUDE_ROWS[3] ==
              (RowBytes(0) | 3ull << ENTRY_MAGNITUDE_SHIFT | 7ull << ENTRY_STEP_SHIFT));

bool StaysClearOfClamp(const int16_t* pcm, int n) noexcept {
  int16_t lo = 0;
  int16_t hi = 0;
  for (int k = 0; k < n; ++k) {
    lo = pcm[k] < lo ? pcm[k] : lo;
    hi = pcm[k] > hi ? pcm[k] : hi;
  }
  return lo >= NO_CLAMP_MIN && hi <= NO_CLAMP_MAX;
}

// The comparisons of the successive approximation: when rest >= threshold,
// take the threshold off rest and replace each pick by its alternative.
// Every outcome is a coin toss on speech, so all of it has to be conditional
// moves; GCC turns selections this wide into branches, hence the x86-64 form,
// which also addresses the row with the entry's offset as it stands. The
// portable form computes the same; defining ZELK_IMA_PORTABLE_STAGES selects
// it on x86-64 too, for testing.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(ZELK_IMA_PORTABLE_STAGES)

// The first comparison, against the whole step: picks the entries of
// magnitudes 4..7 of the row over those of 0..3.
inline void FirstStage(int32_t& rest, int32_t step, uint64_t rowBytes, uint64_t& p0, uint64_t& p1,
                       uint64_t& p2, uint64_t& p3) noexcept {
  const auto* rows = reinterpret_cast<const unsigned char*>(IMA_MAGNITUDE_ROWS.data());
  int32_t t;
  asm("movq (%[b],%[o]), %[p0]\n\t"
      "movq 8(%[b],%[o]), %[p1]\n\t"
      "movq 16(%[b],%[o]), %[p2]\n\t"
      "movq 24(%[b],%[o]), %[p3]\n\t"
      "movl %[r], %[t]\n\t"
      "subl %[s], %[t]\n\t"
      "cmovnsl %[t], %[r]\n\t"
      "cmovnsq 32(%[b],%[o]), %[p0]\n\t"
      "cmovnsq 40(%[b],%[o]), %[p1]\n\t"
      "cmovnsq 48(%[b],%[o]), %[p2]\n\t"
      "cmovnsq 56(%[b],%[o]), %[p3]"
      : [r] "+r"(rest), [t] "=&r"(t), [p0] "=&r"(p0), [p1] "=&r"(p1), [p2] "=&r"(p2), [p3] "=&r"(p3)
      : [s] "r"(step), [b] "r"(rows), [o] "r"(rowBytes), "m"(IMA_MAGNITUDE_ROWS)
      : "cc");
}

inline void Stage(int32_t& rest, int32_t threshold, uint64_t& p0, uint64_t& p1, uint64_t a0,
                  uint64_t a1) noexcept {
  int32_t t;
  asm("movl %[r], %[t]\n\t"
      "subl %[th], %[t]\n\t"
      "cmovnsl %[t], %[r]\n\t"
      "cmovnsq %[a0], %[p0]\n\t"
      "cmovnsq %[a1], %[p1]"
      : [r] "+r"(rest), [t] "=&r"(t), [p0] "+r"(p0), [p1] "+r"(p1)
      : [th] "r"(threshold), [a0] "r"(a0), [a1] "r"(a1)
      : "cc");
}

inline void Stage(int32_t& rest, int32_t threshold, uint64_t& p0, uint64_t a0) noexcept {
  int32_t t;
  asm("movl %[r], %[t]\n\t"
      "subl %[th], %[t]\n\t"
      "cmovnsl %[t], %[r]\n\t"
      "cmovnsq %[a0], %[p0]"
      : [r] "+r"(rest), [t] "=&r"(t), [p0] "+r"(p0)
      : [th] "r"(threshold), [a0] "r"(a0)
      : "cc");
}

// vHat + rest, and a + rest where that sum is not negative, else minus.
inline int32_t SignedMagnitude(int32_t a, int32_t minusA, int32_t rest, int32_t& vHat) noexcept {
  int32_t magnitude;
  asm("leal (%q[a],%q[r]), %[m]\n\t"
      "subl %[r], %[na]\n\t"
      "addl %[r], %[vh]\n\t"
      "cmovsl %[na], %[m]"
      : [m] "=&r"(magnitude), [na] "+&r"(minusA), [vh] "+&r"(vHat)
      : [a] "r"(a), [r] "r"(rest)
      : "cc");
  return magnitude;
}

#else

inline void FirstStage(int32_t& rest, int32_t step, uint64_t rowBytes, uint64_t& p0, uint64_t& p1,
                       uint64_t& p2, uint64_t& p3) noexcept {
  const uint64_t* row = &IMA_MAGNITUDE_ROWS[static_cast<size_t>(rowBytes / sizeof(uint64_t))];
  const int32_t t = rest - step;
  const int at = t >= 0 ? 4 : 0;
  if (t >= 0) rest = t;
  p0 = row[at], p1 = row[at + 1], p2 = row[at + 2], p3 = row[at + 3];
}

inline void Stage(int32_t& rest, int32_t threshold, uint64_t& p0, uint64_t& p1, uint64_t a0,
                  uint64_t a1) noexcept {
  const int32_t t = rest - threshold;
  if (t >= 0) rest = t, p0 = a0, p1 = a1;
}

inline void Stage(int32_t& rest, int32_t threshold, uint64_t& p0, uint64_t a0) noexcept {
  const int32_t t = rest - threshold;
  if (t >= 0) rest = t, p0 = a0;
}

inline int32_t SignedMagnitude(int32_t a, int32_t minusA, int32_t rest, int32_t& vHat) noexcept {
  vHat += rest;
  return vHat >= 0 ? a + rest : minusA - rest;
}

#endif

// The registers of the clamp-free encoder between two samples.
struct FreeCoder {
  int32_t x;          // the sample about to be coded
  int32_t magnitude;  // |x - prediction|
  int32_t flip;       // -1 when x < prediction, else 0
  int32_t step;
  uint64_t rowBytes;
};

FreeCoder LoadFreeCoder(const void* stateBlock, int32_t first) noexcept {
  const ImaAdpcmState s = ImaAdpcmLoad(stateBlock);
  const int32_t d = first - s.predictor;
  return {first, d < 0 ? -d : d, d < 0 ? -1 : 0, IMA_STEP_TABLE[static_cast<size_t>(s.stepIndex)],
          RowBytes(s.stepIndex)};
}

// Codes c.x and moves on to `next`. Called with next 0 after the last sample,
// the difference left behind is minus the prediction.
inline uint32_t FreeEncodeSample(int32_t next, FreeCoder& c) noexcept {
  // The entries still possible after each comparison: magnitudes 0..3 or
  // 4..7, then two of them, then the one coded.
  uint64_t e0, e1, e2, e3;
  int32_t rest = c.magnitude;
  const int32_t step = c.step;
  FirstStage(rest, step, c.rowBytes, e0, e1, e2, e3);
  Stage(rest, ShiftRight(step, 1), e0, e1, e2, e3);
  Stage(rest, ShiftRight(step, 2), e0, e1);
  const uint64_t entry = e0;

  // With s = +1 for x >= prediction, -1 below it, and v = s * (next - P'):
  //   v = s * (next - x) - step / 8 + rest.
  // vHat = v - below (v + flip) turns "next < P'" into a plain sign test for
  // both s; flip ^ (next - x) is s * (next - x) + flip.
  const int32_t flip = c.flip;
  const int32_t aHat = ((next - c.x) ^ flip) - ShiftRight(step, 3);
  const int32_t a = aHat - flip;
  int32_t vHat = aHat;
  c.magnitude = SignedMagnitude(a, -a, rest, vHat);
  c.flip = ShiftRight(vHat, 31) ^ flip;
  c.x = next;
  c.step = static_cast<int32_t>(entry >> ENTRY_STEP_SHIFT);
  c.rowBytes = static_cast<uint32_t>(entry);
  return (static_cast<uint32_t>(entry >> ENTRY_MAGNITUDE_SHIFT) & 7u) |
         (static_cast<uint32_t>(flip) & 8u);
}

void FreeEncode(const int16_t* pcm, uint8_t* codeBytes, int n, void* stateBlock) noexcept {
  FreeCoder c = LoadFreeCoder(stateBlock, pcm[0]);
  // Bytes whose both samples have a successor, then the last byte.
  const int16_t* next = pcm + 1;
  uint8_t* out = codeBytes;
  for (uint8_t* const end = codeBytes + (n - 1) / 2; out != end; ++out, next += 2) {
    const uint32_t high = FreeEncodeSample(next[0], c);
    const uint32_t low = FreeEncodeSample(next[1], c);
    *out = static_cast<uint8_t>(high << 4 | low);
  }
  if (n % 2 == 0) {
    const uint32_t high = FreeEncodeSample(next[0], c);
    *out = static_cast<uint8_t>(high << 4 | FreeEncodeSample(0, c));
  } else {
    *out = static_cast<uint8_t>(FreeEncodeSample(0, c) << 4);
  }
  // The last difference is 0 - prediction.
  const int32_t predictor = c.flip != 0 ? c.magnitude : -c.magnitude;
  ImaAdpcmStore(stateBlock,
                {static_cast<int16_t>(predictor), static_cast<int8_t>(c.rowBytes / ROW_BYTES)});
}

void ClampingEncode(const int16_t* pcm, uint8_t* codeBytes, int n, void* stateBlock) noexcept {
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
  if (StaysClearOfClamp(pcm, n)) {
    FreeEncode(pcm, codeBytes, n, stateBlock);
  } else {
    ClampingEncode(pcm, codeBytes, n, stateBlock);
  }
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
