// A second, independent two-bit ADPCM coder for the tests: one sample's
// computation written out step after step in the order the algorithm is
// stated, with its own record, its own tables and its own exact-integer
// helpers. It shares nothing with the library: no header, no table, no
// helper. Every intermediate is held in a 64-bit integer, where no sum or
// product of the coder can overflow, and reduced to 16 or 32 bits by explicit
// modular arithmetic exactly where the coder wraps; right shifts are written
// as floor divisions. Nothing here is tuned for speed.
//
// The tests hold the library's fast and plain coders against it, and the
// two-bit vector generator writes its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zelk::testing::adpcm2_ref {

// ---------------------------------------------------------------------------
// Exact integer helpers.

// v reduced modulo 2^16 into -32768..32767.
constexpr int64_t Wrap16(int64_t v) {
  const int64_t low = ((v % 65536) + 65536) % 65536;
  return low >= 32768 ? low - 65536 : low;
}

// v reduced modulo 2^32 into -2^31..2^31-1.
constexpr int64_t Wrap32(int64_t v) {
  constexpr int64_t M = int64_t{1} << 32;
  const int64_t low = ((v % M) + M) % M;
  return low >= M / 2 ? low - M : low;
}

// floor(v / 2^n): the arithmetic right shift, rounding towards minus infinity.
constexpr int64_t FloorShift(int64_t v, int n) {
  const int64_t d = int64_t{1} << n;
  const int64_t q = v / d;  // rounds towards zero
  return (v % d != 0 && v < 0) ? q - 1 : q;
}

constexpr int64_t Limit(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Sign tests of the adaptation: zero counts as non-negative.
constexpr bool SameSign(int64_t x, int64_t y) { return (x < 0) == (y < 0); }

// ---------------------------------------------------------------------------
// Constants.

// F (rate-of-change weight) for codes 0, 1; W (scale-factor multiplier) for
// codes 0, 1; DQLN (normalised log reconstruction level, Q7) for codes 0..3.
// Codes 2 and 3 take F and W at index 3 - code.
inline constexpr int REF_F_TABLE[2] = {0, 7};
inline constexpr int REF_W_TABLE[2] = {-22, 439};
inline constexpr int REF_DQLN_TABLE[4] = {116, 365, 365, 116};

// ---------------------------------------------------------------------------
// The record of one stream, laid out as the caller's state block holds it.

struct Record {
  int16_t sr1, sr2;       // reconstructed signal, one and two samples back
  int16_t a1, a2;         // pole coefficients, Q14
  int16_t b1, b2, b3;     // zero coefficients, Q14: b1 weights dq1 ...
  int16_t b4, b5, b6;     // ... b6 weights dq6
  int16_t dq6, dq5, dq4;  // quantised differences, oldest first
  int16_t dq3, dq2, dq1;
  int16_t dms, dml;  // short- and long-term averages of 512 F and 2048 F
  int16_t ap;        // speed control
  int16_t yu;        // fast scale factor, Q9
  int16_t td;        // tone detected
  int16_t p1, p2;    // partial reconstructed signal, one and two samples back
  uint8_t spare[2];  // never read or written
  int32_t yl;        // slow scale factor, Q15
};
static_assert(sizeof(Record) == 52);
static_assert(offsetof(Record, dq6) == 20 && offsetof(Record, p2) == 44);
static_assert(offsetof(Record, spare) == 46 && offsetof(Record, yl) == 48);

// The start-of-stream record; the spare bytes keep what they held.
inline void Reset(Record& r) {
  r.sr1 = r.sr2 = 32;
  r.a1 = r.a2 = 0;
  r.b1 = r.b2 = r.b3 = r.b4 = r.b5 = r.b6 = 0;
  r.dq6 = r.dq5 = r.dq4 = r.dq3 = r.dq2 = r.dq1 = 32;
  r.dms = r.dml = r.ap = 0;
  r.yu = 544;
  r.td = 0;
  r.p1 = r.p2 = 0;
  r.yl = 34816;
}

inline Record ResetRecord() {
  Record r{};
  Reset(r);
  return r;
}

// The record at the start of a caller's state block, and back.
inline Record FromBlock(const void* block) {
  Record r;
  std::memcpy(&r, block, sizeof r);
  return r;
}
inline void ToBlock(const Record& r, void* block) { std::memcpy(block, &r, sizeof r); }

// The 24 fields in record order (yl last), as 32-bit values.
inline void Fields(const Record& r, int32_t out[24]) {
  const int16_t f16[23] = {r.sr1, r.sr2, r.a1,  r.a2,  r.b1,  r.b2,  r.b3,  r.b4,
                           r.b5,  r.b6,  r.dq6, r.dq5, r.dq4, r.dq3, r.dq2, r.dq1,
                           r.dms, r.dml, r.ap,  r.yu,  r.td,  r.p1,  r.p2};
  for (int i = 0; i < 23; ++i) out[i] = f16[i];
  out[23] = r.yl;
}

inline constexpr const char* FIELD_NAMES[24] = {
    "sr1", "sr2", "a1",  "a2",  "b1",  "b2",  "b3", "b4", "b5", "b6", "dq6", "dq5",
    "dq4", "dq3", "dq2", "dq1", "dms", "dml", "ap", "yu", "td", "p1", "p2",  "yl"};

// Every field equal (the spare bytes aside).
inline bool SameFields(const Record& x, const Record& y) {
  int32_t fx[24], fy[24];
  Fields(x, fx);
  Fields(y, fy);
  for (int i = 0; i < 24; ++i) {
    if (fx[i] != fy[i]) return false;
  }
  return true;
}

// "a1 192 (expected 0), ..." for every field that differs.
inline std::string FieldDiff(const Record& got, const Record& expected) {
  int32_t g[24], e[24];
  Fields(got, g);
  Fields(expected, e);
  std::string out;
  for (int i = 0; i < 24; ++i) {
    if (g[i] == e[i]) continue;
    if (!out.empty()) out += ", ";
    out += std::string(FIELD_NAMES[i]) + " " + std::to_string(g[i]) + " (expected " +
           std::to_string(e[i]) + ")";
  }
  return out.empty() ? "no field differs" : out;
}

// ---------------------------------------------------------------------------
// Primitives.

// Q7 base-2 logarithm, row by row (the first matching row applies).
constexpr int64_t Log2(int64_t x) {
  if (x >= 16384) return FloorShift(x, 7) + 1664;
  if (x >= 8192) return FloorShift(x, 6) + 1536;
  if (x >= 4096) return FloorShift(x, 5) + 1408;
  if (x >= 2048) return FloorShift(x, 4) + 1280;
  if (x >= 1024) return FloorShift(x, 3) + 1152;
  if (x >= 512) return FloorShift(x, 2) + 1024;
  if (x >= 256) return FloorShift(x, 1) + 896;
  if (x >= 128) return x + 768;
  if (x >= 64) return 2 * x + 640;
  if (x >= 32) return 4 * x + 512;
  if (x >= 16) return 8 * x + 384;
  if (x >= 8) return 16 * x + 256;
  if (x >= 4) return 32 * x + 128;
  if (x >= 2) return 64 * x;
  return Wrap16(128 * x - 128);
}

struct Quantized {
  int code;
  int64_t dqln;
};

// The two-level quantiser: large from 261 up.
constexpr Quantized Quantize(int64_t dln, bool negative) {
  const int large = dln >= 261 ? 1 : 0;
  const int code = negative ? 3 - large : large;
  return {code, REF_DQLN_TABLE[code]};
}

// The inverse logarithm: ((128 + m) * 128) >> (14 - e), the count taken to
// its low five bits; a count of 15 or more leaves nothing of a value below
// 2^15.
constexpr int64_t Reconstruct(int64_t dql, bool negative) {
  const int64_t e = FloorShift(dql, 7);
  const int64_t m = dql - 128 * e;  // the low seven bits, 0..127
  const int64_t count = ((14 - e) % 32 + 32) % 32;
  const int64_t magnitude = count >= 15 ? 0 : FloorShift((128 + m) * 128, static_cast<int>(count));
  return negative ? -magnitude : magnitude;
}

// The candidate second pole coefficient; pSign is the sign of the current
// partial signal as -1, 0 or +1.
constexpr int64_t UpdatePole2(int64_t p1, int64_t p2, int64_t a2, int64_t a1, int pSign) {
  const int64_t a1c = Limit(a1, -8192, 8192);
  const int64_t p = pSign;  // only its sign matters, and 0 counts as non-negative
  int64_t t = SameSign(p, p2) ? 4096 : -4096;
  t = SameSign(p, p1) ? t - a1c : t + a1c;
  const int64_t candidate = a2 - FloorShift(a2, 7) + FloorShift(t, 5);
  return Limit(candidate, -12288, 12288);
}

// ---------------------------------------------------------------------------
// The coder.

// What happened in one sample, for tests that check their inputs reach the
// corners of the arithmetic.
struct Events {
  bool transition = false;              // tr fired
  bool estimateWrapped = false;         // se outside 16 bits, wrapped before the difference
  bool differenceWrapped = false;       // s - se outside 16 bits (encoder)
  bool reconstructionWrapped = false;   // se + dq outside 16 bits
  bool partialWrapped = false;          // sez + dq outside 16 bits
  bool zeroCoefficientWrapped = false;  // a b coefficient's update outside 16 bits
  bool smallestMagnitude = false;       // magnitude pattern 0x8000 (d = -32768)
};

struct Counts {
  long samples = 0, transitions = 0, estimateWraps = 0, differenceWraps = 0,
       reconstructionWraps = 0, partialWraps = 0, zeroCoefficientWraps = 0, smallestMagnitudes = 0;
  void Add(const Events& e) {
    ++samples;
    transitions += e.transition;
    estimateWraps += e.estimateWrapped;
    differenceWraps += e.differenceWrapped;
    reconstructionWraps += e.reconstructionWrapped;
    partialWraps += e.partialWrapped;
    zeroCoefficientWraps += e.zeroCoefficientWrapped;
    smallestMagnitudes += e.smallestMagnitude;
  }
};

struct Result {
  int code;    // the encoder's code, or the decoder's code as given
  int16_t sr;  // the reconstructed signal: the decoder's output sample
};

namespace detail {

inline bool Outside16(int64_t v) { return v < -32768 || v > 32767; }

// One sample. The encoder passes its input sample and encoder = true; the
// decoder passes its code 0..3.
inline Result Step(Record& r, bool encoder, int64_t s, int givenCode, Events* events) {
  Events ev;

  // Prediction: the zero section, then the poles; sums wrap in 32 bits.
  const int64_t sezi =
      Wrap32(int64_t{r.b1} * r.dq1 + int64_t{r.b2} * r.dq2 + int64_t{r.b3} * r.dq3 +
             int64_t{r.b4} * r.dq4 + int64_t{r.b5} * r.dq5 + int64_t{r.b6} * r.dq6);
  const int64_t sez = FloorShift(sezi, 14);
  const int64_t sei = Wrap32(sezi + int64_t{r.a1} * r.sr1 + int64_t{r.a2} * r.sr2);
  const int64_t se = FloorShift(sei, 14);

  // The mixed scale factor: one shift of the whole sum.
  const int64_t al = r.ap >= 256 ? 64 : FloorShift(r.ap, 2);
  const int64_t gap = Wrap16(r.yu - FloorShift(r.yl, 6));
  const int64_t y = FloorShift(Wrap32(r.yl + gap * al), 6);
  const int64_t y4 = FloorShift(y, 2);

  // The code.
  int code;
  bool negative;
  int64_t dqln;
  if (encoder) {
    const int64_t se16 = Wrap16(se);
    ev.estimateWrapped = se16 != se;
    ev.differenceWrapped = Outside16(s - se16);
    const int64_t d = Wrap16(s - se16);
    negative = d < 0;
    const int64_t magnitude = Wrap16(negative ? -d : d);
    ev.smallestMagnitude = magnitude == -32768;
    const int64_t dln = Wrap16(Log2(magnitude) - y4);
    const Quantized q = Quantize(dln, negative);
    code = q.code;
    dqln = q.dqln;
  } else {
    code = givenCode;
    negative = code >= 2;
    dqln = REF_DQLN_TABLE[code];
  }
  const int weightIndex = code < 2 ? code : 3 - code;

  // Reconstruction.
  const int64_t dql = Wrap16(dqln + y4);
  const int64_t dq = Reconstruct(dql, negative);
  ev.reconstructionWrapped = Outside16(se + dq);
  ev.partialWrapped = Outside16(sez + dq);
  const int64_t sr = Wrap16(se + dq);
  const int64_t p = Wrap16(sez + dq);
  const int pSign = p < 0 ? -1 : (p > 0 ? 1 : 0);

  // Scale-factor adaptation, every difference and sum in 16 bits.
  const int64_t f = REF_F_TABLE[weightIndex];
  const int64_t w = REF_W_TABLE[weightIndex];
  const int64_t dmsNew = Wrap16(r.dms + FloorShift(Wrap16(512 * f - r.dms), 5));
  const int64_t dmlNew = Wrap16(r.dml + FloorShift(Wrap16(2048 * f - r.dml), 7));
  const int64_t y16 = Wrap16(y);
  const int64_t yuNew = Limit(Wrap16(y16 + FloorShift(Wrap16(32 * w - y16), 5)), 544, 5120);
  const int64_t ylNew = Wrap32(r.yl + yuNew - FloorShift(r.yl, 6));

  // Transition: a tone flagged at the previous sample.
  const bool tr = r.td == 1 && dql * 7147 > r.yl;
  ev.transition = tr;

  // Second pole, from the partial signals before this sample.
  const int64_t a2p = UpdatePole2(r.p1, r.p2, r.a2, r.a1, pSign);
  const int64_t a2New = tr ? 0 : a2p;

  // First pole.
  const int64_t u = p == 0 ? 0 : (SameSign(p, r.p1) ? 192 : -192);
  const int64_t a1Candidate = Wrap16(r.a1 - FloorShift(r.a1, 8) + u);
  const int64_t a1ul = 15360 - a2p;
  const int64_t a1New = tr ? 0 : Limit(a1Candidate, -a1ul, a1ul);

  // Tone detection.
  const int64_t tdNew = tr ? 0 : (a2p < -11776 ? 1 : 0);

  // Speed control.
  const int64_t deviation = 4 * dmsNew - dmlNew;
  const bool fast =
      (deviation < 0 ? -deviation : deviation) >= FloorShift(dmlNew, 3) || y < 1536 || a2p < -11776;
  const int64_t apNew = tr ? 256 : Wrap16(r.ap - FloorShift(r.ap, 4) + (fast ? 32 : 0));

  // Zero coefficients against the differences they multiplied.
  const int64_t h[6] = {r.dq1, r.dq2, r.dq3, r.dq4, r.dq5, r.dq6};
  int16_t* const b[6] = {&r.b1, &r.b2, &r.b3, &r.b4, &r.b5, &r.b6};
  int64_t bNew[6];
  for (int i = 0; i < 6; ++i) {
    const int64_t inc = dq == 0 ? 0 : (SameSign(dq, h[i]) ? 128 : -128);
    const int64_t sum = *b[i] - FloorShift(*b[i], 8) + inc;
    ev.zeroCoefficientWrapped = ev.zeroCoefficientWrapped || (!tr && Outside16(sum));
    bNew[i] = tr ? 0 : Wrap16(sum);
  }

  // Everything computed from the old record; now it moves on.
  for (int i = 0; i < 6; ++i) *b[i] = static_cast<int16_t>(bNew[i]);
  r.dq6 = r.dq5, r.dq5 = r.dq4, r.dq4 = r.dq3, r.dq3 = r.dq2, r.dq2 = r.dq1;
  r.dq1 = static_cast<int16_t>(Wrap16(dq));
  r.p2 = r.p1;
  r.p1 = static_cast<int16_t>(p);
  r.sr2 = r.sr1;
  r.sr1 = static_cast<int16_t>(sr);
  r.a1 = static_cast<int16_t>(a1New);
  r.a2 = static_cast<int16_t>(a2New);
  r.td = static_cast<int16_t>(tdNew);
  r.ap = static_cast<int16_t>(apNew);
  r.dms = static_cast<int16_t>(dmsNew);
  r.dml = static_cast<int16_t>(dmlNew);
  r.yu = static_cast<int16_t>(yuNew);
  r.yl = static_cast<int32_t>(ylNew);

  if (events != nullptr) *events = ev;
  return {code, static_cast<int16_t>(sr)};
}

}  // namespace detail

// Encodes one sample; the result carries its code and the reconstruction.
inline Result EncodeSample(Record& r, int16_t s, Events* events = nullptr) {
  return detail::Step(r, true, s, 0, events);
}

// Decodes one code; only its low two bits count.
inline int16_t DecodeSample(Record& r, int code, Events* events = nullptr) {
  return detail::Step(r, false, 0, code & 3, events).sr;
}

// The reference on the record at the start of a caller's state block, n
// samples or codes at a time; the spare bytes keep what they held.
inline void EncodeBlock(const int16_t* pcm, uint8_t* codes, size_t n, void* block) {
  Record r = FromBlock(block);
  for (size_t k = 0; k < n; ++k) codes[k] = static_cast<uint8_t>(EncodeSample(r, pcm[k]).code);
  ToBlock(r, block);
}
inline void DecodeBlock(const uint8_t* codes, int16_t* pcm, size_t n, void* block) {
  Record r = FromBlock(block);
  for (size_t k = 0; k < n; ++k) pcm[k] = DecodeSample(r, codes[k]);
  ToBlock(r, block);
}

// ---------------------------------------------------------------------------
// The two-bit frame, built independently of the library: header 0x0100,
// length n / 8, then eight codes per word, the earliest in the top two bits;
// every word little-endian on the wire.
inline void PackFrame(const uint8_t* codes, int n, uint8_t* bytes) {
  const int words = n / 8;
  const int wordValues[2] = {0x0100, words};
  for (int i = 0; i < 2; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(wordValues[i] % 256);
    bytes[2 * i + 1] = static_cast<uint8_t>(wordValues[i] / 256);
  }
  for (int i = 0; i < words; ++i) {
    int value = 0;
    for (int k = 0; k < 8; ++k) value = value * 4 + (codes[8 * i + k] & 3);
    bytes[4 + 2 * i] = static_cast<uint8_t>(value % 256);
    bytes[5 + 2 * i] = static_cast<uint8_t>(value / 256);
  }
}

}  // namespace zelk::testing::adpcm2_ref
