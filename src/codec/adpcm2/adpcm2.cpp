#include "codec/adpcm2/adpcm2.h"

#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__SSE2__) && !defined(ZELK_ADPCM2_NO_SIMD)
#include <emmintrin.h>
#endif

#include "codec/adpcm2/adpcm2_primitives.h"
#include "codec/fixed_point.h"
#include "frame/voice_frame.h"

namespace zelk {
namespace {

// Start-of-stream values. The signal and difference histories start at the
// small positive value 32, which enters the first predictions and sign tests.
constexpr int16_t RESET_HISTORY = 32;
constexpr int16_t YU_MIN = 544;
constexpr int16_t YU_MAX = 5120;
constexpr int32_t YL_RESET = 64 * YU_MIN;

// Thresholds of the adaptation.
constexpr int32_t AP_FULL = 256;          // speed control at or above this: pure fast factor
constexpr int32_t A2_TONE = -11776;       // a2 below this signals a tone
constexpr int32_t A1_LIMIT_BASE = 15360;  // |a1| <= 15360 - a2
constexpr int32_t TRANSITION_SCALE = 7147;
constexpr int32_t Y_FAST = 1536;  // scale factors below this adapt fast
constexpr int32_t POLE1_STEP = 192;
constexpr int32_t ZERO_STEP = 128;

// Sign test shared by the adaptations: zero counts as non-negative.
constexpr bool SameSign(int32_t x, int32_t y) noexcept { return (x < 0) == (y < 0); }

// Zero-coefficient increment for one history value h against the new
// difference dq: +128 for the same sign, -128 for different signs, 0 for
// dq = 0 (zero counts as non-negative).
constexpr int32_t ZeroIncrement(int32_t dq, int32_t h) noexcept {
  if (dq == 0) return 0;
  return SameSign(dq, h) ? ZERO_STEP : -ZERO_STEP;
}

// The zero section of the predictor: coefficients b1..b6 against the last
// six quantised differences dq1..dq6. Two interchangeable forms hold it, one
// in plain integers and one in two SSE2 vectors of 16-bit lanes; both give
// the same sum and the same update to the bit.
class PortableZeroSection {
 public:
  explicit PortableZeroSection(const Adpcm2State& s) noexcept
      : b_{s.b1, s.b2, s.b3, s.b4, s.b5, s.b6}, h_{s.dq1, s.dq2, s.dq3, s.dq4, s.dq5, s.dq6} {}

  // sezi: each product of two 16-bit values fits in 32 bits; the sum wraps.
  int32_t Sum() const noexcept {
    int32_t sezi = 0;
    for (int i = 0; i < 6; ++i) sezi = Add32Wrap(sezi, Mul32Wrap(b_[i], h_[i]));
    return sezi;
  }

  // Moves the coefficients on for the difference dq (clearing them on a
  // transition) and shifts dq into the history. kDqNonZero: the caller knows
  // dq != 0.
  template <bool kDqNonZero>
  void Adapt(int32_t dq, bool transition) noexcept {
    for (int i = 0; i < 6; ++i) {
      const int32_t inc =
          kDqNonZero ? (SameSign(dq, h_[i]) ? ZERO_STEP : -ZERO_STEP) : ZeroIncrement(dq, h_[i]);
      b_[i] = transition ? 0 : Wrap16(b_[i] - ShiftRight(b_[i], 8) + inc);
    }
    for (int i = 5; i > 0; --i) h_[i] = h_[i - 1];
    h_[0] = Wrap16(dq);
  }

  void Save(Adpcm2State& s) const noexcept {
    s.b1 = Wrap16(b_[0]), s.b2 = Wrap16(b_[1]), s.b3 = Wrap16(b_[2]);
    s.b4 = Wrap16(b_[3]), s.b5 = Wrap16(b_[4]), s.b6 = Wrap16(b_[5]);
    s.dq1 = Wrap16(h_[0]), s.dq2 = Wrap16(h_[1]), s.dq3 = Wrap16(h_[2]);
    s.dq4 = Wrap16(h_[3]), s.dq5 = Wrap16(h_[4]), s.dq6 = Wrap16(h_[5]);
  }

 private:
  int32_t b_[6];  // b1..b6
  int32_t h_[6];  // dq1 (previous sample) .. dq6
};

// ZELK_ADPCM2_NO_SIMD selects the plain form even where SSE2 exists, so that
// the tests can run it on every machine.
#if defined(__SSE2__) && !defined(ZELK_ADPCM2_NO_SIMD)
// Lanes 0..5 hold b6..b1 and dq6..dq1 (the record's order, oldest first);
// lanes 6 and 7 of the history are always 0, so whatever the coefficient
// lanes 6 and 7 accumulate never counts. One pmaddwd forms the products and
// adds them in pairs; each pair fits in 32 bits except two products of
// -32768 * -32768, which wrap to the same value as a 32-bit sum would, so the
// total stays exact modulo 2^32. Lane arithmetic wraps in 16 bits, which is
// exactly the coefficients' update.
class VectorZeroSection {
 public:
  explicit VectorZeroSection(const Adpcm2State& s) noexcept
      : coef_(_mm_setr_epi16(s.b6, s.b5, s.b4, s.b3, s.b2, s.b1, 0, 0)),
        hist_(_mm_setr_epi16(s.dq6, s.dq5, s.dq4, s.dq3, s.dq2, s.dq1, 0, 0)) {}

  int32_t Sum() const noexcept {
    const __m128i pairs = _mm_madd_epi16(coef_, hist_);  // 6+5, 4+3, 2+1, 0
    const __m128i half = _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, 0x4E));
    return _mm_cvtsi128_si32(_mm_add_epi32(half, _mm_shuffle_epi32(half, 0xB1)));
  }

  template <bool kDqNonZero>
  void Adapt(int32_t dq, bool transition) noexcept {
    // dq in every 32-bit lane: the even 16-bit lanes hold its low half, the odd
    // ones its sign extension; with |dq| < 2^15 both carry its sign.
    const __m128i dqv = _mm_shuffle_epi32(_mm_cvtsi32_si128(dq), 0);
    const __m128i differ = _mm_srai_epi16(_mm_xor_si128(dqv, hist_), 15);
    __m128i inc = _mm_sub_epi16(_mm_set1_epi16(ZERO_STEP),
                                _mm_and_si128(differ, _mm_set1_epi16(2 * ZERO_STEP)));
    if (!kDqNonZero) inc = _mm_andnot_si128(_mm_cmpeq_epi32(dqv, _mm_setzero_si128()), inc);
    coef_ = transition ? _mm_setzero_si128()
                       : _mm_add_epi16(_mm_sub_epi16(coef_, _mm_srai_epi16(coef_, 8)), inc);
    // dq6 leaves at lane 0, dq5..dq1 move down one lane, a zero moves into
    // lane 6 from lane 7, and dq enters at lane 5.
    hist_ = _mm_insert_epi16(_mm_srli_si128(hist_, 2), dq, 5);
  }

  void Save(Adpcm2State& s) const noexcept {
    alignas(16) int16_t c[8], h[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), coef_);
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hist_);
    s.b6 = c[0], s.b5 = c[1], s.b4 = c[2], s.b3 = c[3], s.b2 = c[4], s.b1 = c[5];
    s.dq6 = h[0], s.dq5 = h[1], s.dq4 = h[2], s.dq3 = h[3], s.dq2 = h[4], s.dq1 = h[5];
  }

 private:
  __m128i coef_;
  __m128i hist_;
};
using FastZeroSection = VectorZeroSection;
#else
using FastZeroSection = PortableZeroSection;
#endif

// The rest of the record in 32-bit locals for the length of one block, each
// holding its field's 16-bit value (yl its 32-bit value) between samples.
template <typename ZeroSection>
struct Work {
  ZeroSection zeros;
  int32_t sr1, sr2, a1, a2, p1, p2, dms, dml, ap, yu, td, yl;
};

Adpcm2State LoadRecord(const void* block) noexcept {
  Adpcm2State s;
  std::memcpy(&s, block, ADPCM2_FIELDS16_BYTES);
  std::memcpy(&s.yl, static_cast<const unsigned char*>(block) + ADPCM2_YL_OFFSET, sizeof s.yl);
  return s;
}

void StoreRecord(const Adpcm2State& s, void* block) noexcept {
  std::memcpy(block, &s, ADPCM2_FIELDS16_BYTES);
  std::memcpy(static_cast<unsigned char*>(block) + ADPCM2_YL_OFFSET, &s.yl, sizeof s.yl);
}

template <typename ZeroSection>
Work<ZeroSection> Load(const Adpcm2State& s) noexcept {
  return {ZeroSection(s), s.sr1, s.sr2, s.a1, s.a2, s.p1, s.p2,
          s.dms,          s.dml, s.ap,  s.yu, s.td, s.yl};
}

template <typename ZeroSection>
void Store(const Work<ZeroSection>& w, void* block) noexcept {
  Adpcm2State s;
  w.zeros.Save(s);
  s.sr1 = Wrap16(w.sr1), s.sr2 = Wrap16(w.sr2), s.a1 = Wrap16(w.a1), s.a2 = Wrap16(w.a2);
  s.p1 = Wrap16(w.p1), s.p2 = Wrap16(w.p2);
  s.dms = Wrap16(w.dms), s.dml = Wrap16(w.dml), s.ap = Wrap16(w.ap);
  s.yu = Wrap16(w.yu), s.td = Wrap16(w.td);
  s.yl = w.yl;
  StoreRecord(s, block);
}

// Per magnitude class (0 small, 1 large): the quantiser's log level and the
// scaled weights that the adaptation adds.
constexpr int32_t ByClass(int32_t large, int32_t small, int32_t big) noexcept {
  return small + ((big - small) & -large);
}
constexpr int32_t DqlnOf(int32_t large) noexcept {
  return ByClass(large, ADPCM2_DQLN_TABLE[0], ADPCM2_DQLN_TABLE[1]);
}
constexpr int32_t F512Of(int32_t large) noexcept {
  return ByClass(large, 512 * ADPCM2_F_TABLE[0], 512 * ADPCM2_F_TABLE[1]);
}
constexpr int32_t F2048Of(int32_t large) noexcept {
  return ByClass(large, 2048 * ADPCM2_F_TABLE[0], 2048 * ADPCM2_F_TABLE[1]);
}
constexpr int32_t W32Of(int32_t large) noexcept {
  return ByClass(large, 32 * ADPCM2_W_TABLE[0], 32 * ADPCM2_W_TABLE[1]);
}

// What a code source delivers for one sample.
struct CodeChoice {
  int32_t negative;  // 1 for codes 2 and 3
  int32_t large;     // magnitude class: 1 for codes 1 and 2
};

// One sample of the coder with every wrap and test as written, for encoder
// and decoder alike and for any record. `source(se, y4)` delivers the code:
// the encoder quantises its input against the signal estimate se and the
// normalising term y4 = y >> 2, the decoder reads its next code. Returns the
// reconstructed signal sr.
template <typename ZeroSection, typename CodeSource>
[[gnu::always_inline]] inline int32_t Step(Work<ZeroSection>& w, CodeSource source) noexcept {
  // Prediction: the zero section, then the two poles; sums wrap in 32 bits.
  const int32_t sezi = w.zeros.Sum();
  const int32_t sei = Add32Wrap(Add32Wrap(sezi, Mul32Wrap(w.a1, w.sr1)), Mul32Wrap(w.a2, w.sr2));
  const int32_t sez = ShiftRight(sezi, 14);
  const int32_t se = ShiftRight(sei, 14);

  // Mixed scale factor. The whole sum is shifted once:
  // (yl + (yu - yl/64) * al) >> 6 rounds differently from yl/64 + (...) >> 6.
  const int32_t al = w.ap >= AP_FULL ? 64 : ShiftRight(w.ap, 2);
  const int32_t ylTrunc = ShiftRight(w.yl, 6);
  const int32_t y = ShiftRight(Add32Wrap(w.yl, Mul32Wrap(Wrap16(w.yu - ylTrunc), al)), 6);
  const int32_t y4 = ShiftRight(y, 2);

  const CodeChoice c = source(se, y4);

  // Reconstruction.
  const int32_t dql = Wrap16(DqlnOf(c.large) + y4);
  const int32_t magnitude = Adpcm2ReconstructMagnitude(dql);
  const int32_t negMask = -c.negative;
  const int32_t dq = (magnitude ^ negMask) - negMask;
  const int32_t sr = Add16Wrap(se, dq);
  const int32_t p = Add16Wrap(sez, dq);

  // Scale-factor adaptation.
  const int32_t dms = Wrap16(w.dms + ShiftRight(Wrap16(F512Of(c.large) - w.dms), 5));
  const int32_t dml = Wrap16(w.dml + ShiftRight(Wrap16(F2048Of(c.large) - w.dml), 7));
  const int32_t yu = Clamp(Wrap16(y + ShiftRight(Wrap16(W32Of(c.large) - y), 5)), YU_MIN, YU_MAX);
  // The old yl's share leaves after the new yu enters: yl + yu - (yl >> 6),
  // not yl + yu + ((-yl) >> 6), which rounds the other way.
  const int32_t yl = Sub32Wrap(Add32Wrap(w.yl, yu), ylTrunc);

  // Transition: a tone seen at the previous sample clears the predictor.
  const bool tr = w.td == 1 && Mul32Wrap(dql, TRANSITION_SCALE) > w.yl;

  // Predictor adaptation, from the fields as they were before this sample.
  const int32_t a2p = Adpcm2Pole2Candidate(w.p1, w.p2, w.a2, w.a1, p < 0);
  const bool tone = a2p < A2_TONE;
  // The speed control goes fast on a change in the code statistics, at a
  // small scale factor or on a tone: ap - (ap >> 4) + 32, not
  // ap + ((512 - ap) >> 4), which rounds the other way.
  const int32_t dmsDev = 4 * dms - dml;
  const bool fast = ((dmsDev < 0 ? -dmsDev : dmsDev) >= ShiftRight(dml, 3)) | (y < Y_FAST) | tone;
  if (tr) {
    w.a1 = 0;
    w.a2 = 0;
    w.td = 0;
    w.ap = AP_FULL;
  } else {
    const int32_t u = p == 0 ? 0 : (SameSign(p, w.p1) ? POLE1_STEP : -POLE1_STEP);
    const int32_t a1ul = A1_LIMIT_BASE - a2p;
    w.a1 = Clamp(Wrap16(w.a1 - ShiftRight(w.a1, 8) + u), -a1ul, a1ul);
    w.a2 = a2p;
    w.td = tone ? 1 : 0;
    w.ap = Wrap16(w.ap - ShiftRight(w.ap, 4) + (fast ? 32 : 0));
  }
  w.zeros.template Adapt<false>(dq, tr);
  w.dms = dms;
  w.dml = dml;
  w.yu = yu;
  w.yl = yl;
  w.p2 = w.p1;
  w.p1 = p;
  w.sr2 = w.sr1;
  w.sr1 = sr;
  return sr;
}

// The encoder's choice of code for input s: the difference wraps in 16 bits,
// so a large estimate against an input of the other sign can flip its sign.
// The magnitude of -32768 is the pattern 0x8000, which the logarithm ranks
// with 0.
inline CodeChoice Quantize(int32_t s, int32_t se, int32_t y4) noexcept {
  const int32_t d = Sub16Wrap(s, Wrap16(se));
  const int32_t negMask = ShiftRight(d, 31);
  const auto magnitude = static_cast<int16_t>((d ^ negMask) - negMask);
  const int16_t dln = Wrap16(Adpcm2Log2(magnitude) - y4);
  return {-negMask, Adpcm2WeightIndex(Adpcm2Quantize(dln, negMask).code)};
}

constexpr int CodeOf(CodeChoice c) noexcept { return c.negative != 0 ? 3 - c.large : c.large; }

// ---------------------------------------------------------------------------
// The in-range step.
//
// Every record reached from the reset by coding keeps these fields within
// these ranges, and each update below maps them back into them:
//   yu in 544..5120 and yl in 64 * (544..5120), so y lies in 544..5120
//   (a weighted mean of yu and yl >> 6 with weight al in 0..64, floored);
//   ap in 0..512 (ap - ap/16 + 32 is at most 512, ap - ap/16 at least 0);
//   dms in 0..3584 and dml in 0..14336 (each moves towards 0 or its target
//   by a floored fraction of the gap); td 0 or 1; |a1| <= 27648 (its limit
//   15360 - a2 with a2 >= -12288).
// For such a record none of the 16-bit wraps of the scale factors, the
// averages, the speed control or the first pole can wrap, y >> 2 lies in
// 136..1280, and the transition's product test always holds (dql >= 252 and
// 252 * 7147 exceeds every yl), so the transition fires exactly when td is 1.
// That lets the step below replace the logarithm, the inverse logarithm and
// the fast scale factor's update by tables indexed by the scale factor, and
// carry td as the choice of step rather than as a value. The sums that can
// wrap (predictor, signal, partial signal, zero coefficients) still do.
// Any other record, such as one that was never reset, runs Step above.

constexpr int32_t Y4_MIN = YU_MIN >> 2;
constexpr int32_t Y4_MAX = YU_MAX >> 2;
constexpr int32_t AP_MAX = 512;
constexpr int32_t DMS_MAX = 512 * ADPCM2_F_TABLE[1];
constexpr int32_t DML_MAX = 2048 * ADPCM2_F_TABLE[1];
constexpr int32_t A1_MAX = A1_LIMIT_BASE + ADPCM2_A2_LIMIT;

bool InRange(const Adpcm2State& s) noexcept {
  return s.yu >= YU_MIN && s.yu <= YU_MAX && s.yl >= 64 * YU_MIN && s.yl <= 64 * YU_MAX &&
         s.ap >= 0 && s.ap <= AP_MAX && s.dms >= 0 && s.dms <= DMS_MAX && s.dml >= 0 &&
         s.dml <= DML_MAX && (s.td == 0 || s.td == 1) && s.a1 >= -A1_MAX && s.a1 <= A1_MAX;
}

// The tables of the in-range step, in one object so that one base register
// reaches them all.
// Indexed by y >> 2 and y themselves (the rows below their minimum are never
// read), so that no offset lies on the path from the scale factor to its
// table reads; At() turns a value known to be non-negative into an index
// without a sign extension.
constexpr size_t Y4_COUNT = Y4_MAX + 1;
constexpr size_t Y_COUNT = YU_MAX + 1;
constexpr size_t At(int32_t v) noexcept { return static_cast<uint32_t>(v); }
// What the adaptation takes from a code: the targets of the two averages
// (512 F and 2048 F) and the magnitude class.
struct CodeWeights {
  int16_t f512, f2048, large, unused;
};
struct InRangeTables {
  // The quantised difference Adpcm2Reconstruct(DQLN[code] + y4, code >= 2)
  // by y4 and code: the decoder finds dq with one load from its code.
  // Flat, at index 4 * y4 + code = (y & -4) + code.
  std::array<int16_t, 4 * Y4_COUNT> dq;
  // The quantiser's decision as a magnitude threshold by y4: since the
  // logarithm never decreases, Adpcm2Log2(m) - y4 >= 261 exactly when m is at
  // least the smallest magnitude that passes. Held times 2^16, for
  // magnitudes held in the top half of a word.
  std::array<int32_t, Y4_COUNT> largeThresholdHigh;
  // The new fast scale factor, limited to 544..5120, at index
  // 2 * y + magnitude class.
  std::array<int16_t, 2 * Y_COUNT> yuNext;
  // By code, so that the decoder reaches them with one index.
  std::array<CodeWeights, 4> byCode;
  // The weight al of the fast scale factor by speed control 0..512.
  std::array<uint8_t, AP_MAX + 1> al;
};

constexpr InRangeTables MakeInRangeTables() {
  InRangeTables t{};
  uint32_t m = 0;
  for (int32_t y4 = Y4_MIN; y4 <= Y4_MAX; ++y4) {
    const size_t row = At(y4);
    for (int code = 0; code < 4; ++code) {
      const auto dql = static_cast<int16_t>(ADPCM2_DQLN_TABLE[code] + y4);
      t.dq[4 * row + static_cast<size_t>(code)] =
          static_cast<int16_t>(Adpcm2Reconstruct(dql, code >> 1));
    }
    while (Adpcm2Log2Magnitude(m) - y4 < ADPCM2_LARGE_THRESHOLD) ++m;
    t.largeThresholdHigh[row] = static_cast<int32_t>(m << 16);
  }
  for (int32_t y = YU_MIN; y <= YU_MAX; ++y) {
    for (int32_t large = 0; large < 2; ++large) {
      t.yuNext[At(2 * y + large)] =
          static_cast<int16_t>(Clamp(y + ShiftRight(W32Of(large) - y, 5), YU_MIN, YU_MAX));
    }
  }
  for (int code = 0; code < 4; ++code) {
    const int32_t large = Adpcm2WeightIndex(code);
    t.byCode[static_cast<size_t>(code)] = {static_cast<int16_t>(F512Of(large)),
                                           static_cast<int16_t>(F2048Of(large)),
                                           static_cast<int16_t>(large), 0};
  }
  for (int32_t ap = 0; ap <= AP_MAX; ++ap) {
    t.al[static_cast<size_t>(ap)] = static_cast<uint8_t>(ap >= AP_FULL ? 64 : ap >> 2);
  }
  return t;
}
constexpr InRangeTables IN_RANGE = MakeInRangeTables();

// The targets of the two averages by magnitude class.

// -1 for a negative value, else 0.
constexpr int32_t SignMask(int32_t v) noexcept { return ShiftRight(v, 31); }

// v, negated when mask is -1 (v is far from the 32-bit limits).
constexpr int32_t NegateIf(int32_t v, int32_t mask) noexcept { return (v ^ mask) - mask; }

// The mixed scale factor y of a record in range, where yu - (yl >> 6) is
// within +-4576 and the products and sums stay far from the 32-bit limits.
// At full speed (al = 64) the sum is 64 * yu + (yl & 63), so y is yu itself.
// The speed control stays at or above 256 in long runs, so the branch is
// well predicted, and it takes the product off the path from one sample's
// scale factor to the next.
[[gnu::always_inline]] inline int32_t MixedScaleFactor(int32_t yu, int32_t yl,
                                                       int32_t ap) noexcept {
  if (ap >= AP_FULL) return yu;
  return ShiftRight(yl + (yu - ShiftRight(yl, 6)) * ShiftRight(ap, 2), 6);
}

// The code of one sample and its quantised difference.
struct InRangeCode {
  int32_t code;  // 0..3
  int32_t dq;    // the code's quantised difference
  // A code of the same magnitude class, for IN_RANGE.byCode: the decoder
  // gives the code itself, the encoder the class (codes 0 and 1 are the
  // classes 0 and 1), which it knows before the code.
  int32_t weightsAt;
  int32_t large;  // the magnitude class: 1 for codes 1 and 2
};

// The record in 32-bit locals; td is carried by the choice of step. The
// signal and partial-signal histories each sit in two slots whose roles
// alternate from sample to sample: the newest value overwrites the oldest, so
// nothing moves down. Slot 0 holds sr1 and p1 between pairs of samples.
template <typename ZeroSection>
struct InRangeWork {
  ZeroSection zeros;
  int32_t sr[2], p[2];
  int32_t a1, a2, dms, dml, ap, yu, yl;
};

// One sample for a record in range, for encoder and decoder alike.
// kTransition: td was 1, so the transition fires at this sample. kSwapped:
// the previous sample's values are in history slot 1 rather than slot 0.
// `source(se, y4, y)` delivers the code as in Step, with its quantised
// difference read from IN_RANGE.dq at 4 * y4 + code.
// Sets `tone` (the new td) and returns sr.
//
// The work off the path from one sample's code to the next sample's signal
// estimate (the averages, the speed control, the second pole's candidate
// from the previous partial signals) only needs the old record and the sign
// of p, so it overlaps with the quantiser.
template <bool kTransition, bool kSwapped, typename ZeroSection, typename CodeSource>
[[gnu::always_inline]] inline int32_t InRangeStep(InRangeWork<ZeroSection>& w, bool& tone,
                                                  CodeSource source) noexcept {
  constexpr size_t PREV = kSwapped ? 1 : 0;
  constexpr size_t OLDER = 1 - PREV;
  const int32_t sezi = w.zeros.Sum();
  const int32_t sei =
      Add32Wrap(Add32Wrap(sezi, Mul32Wrap(w.a1, w.sr[PREV])), Mul32Wrap(w.a2, w.sr[OLDER]));
  const int32_t sez = ShiftRight(sezi, 14);
  const int32_t se = ShiftRight(sei, 14);

  const int32_t ylTrunc = ShiftRight(w.yl, 6);
  const int32_t y = MixedScaleFactor(w.yu, w.yl, w.ap);
  const int32_t y4 = ShiftRight(y, 2);

  const InRangeCode c = source(se, y4, y);
  const int32_t dq = c.dq;
  const int32_t sr = Add16Wrap(se, dq);
  const int32_t p = Add16Wrap(sez, dq);

  // The averages move towards their targets by a floored fraction of the gap.
  const CodeWeights& weights = IN_RANGE.byCode[static_cast<size_t>(c.weightsAt)];
  const int32_t dms = w.dms + ShiftRight(weights.f512 - w.dms, 5);
  const int32_t dml = w.dml + ShiftRight(weights.f2048 - w.dml, 7);
  w.yu = IN_RANGE.yuNext[At(2 * y + c.large)];
  w.yl = w.yl + w.yu - ylTrunc;
  w.dms = dms;
  w.dml = dml;

  if constexpr (kTransition) {
    w.a1 = 0;
    w.a2 = 0;
    w.ap = AP_FULL;
    tone = false;
  } else {
    // The second pole's candidate. With signs as +-1 (zero counting as +1),
    // its term t is sign(p) * (sign(p2) * 4096 - sign(p1) * a1c): t0 below is
    // the bracket, known before p.
    const bool pNegative = p < 0;
    const int32_t a1c = Clamp(w.a1, -ADPCM2_A1_CLIP_IN_A2, ADPCM2_A1_CLIP_IN_A2);
    const int32_t t0 = (w.p[OLDER] < 0 ? -4096 : 4096) + (w.p[PREV] < 0 ? a1c : -a1c);
    const int32_t t = NegateIf(t0, SignMask(p));  // no branch on the sign of p
    const int32_t a2p =
        Clamp(w.a2 - ShiftRight(w.a2, 7) + ShiftRight(t, 5), -ADPCM2_A2_LIMIT, ADPCM2_A2_LIMIT);
    tone = a2p < A2_TONE;

    const int32_t u = p == 0 ? 0 : (pNegative == (w.p[PREV] < 0) ? POLE1_STEP : -POLE1_STEP);
    const int32_t a1ul = A1_LIMIT_BASE - a2p;
    w.a1 = Clamp(w.a1 - ShiftRight(w.a1, 8) + u, -a1ul, a1ul);
    w.a2 = a2p;

    // Speed control: ap - (ap >> 4) + 32 when fast, not ap + ((512 - ap) >> 4).
    // |4 dms - dml| >= dml >> 3 compares squares, which cost fewer steps than
    // the absolute value: both sides are at most 14336 in magnitude, so the
    // squares stay below 2^28.
    const int32_t dmsDev = 4 * dms - dml;
    const int32_t dmlEighth = ShiftRight(dml, 3);
    const bool fast = (dmsDev * dmsDev >= dmlEighth * dmlEighth) | (y < Y_FAST) | tone;
    w.ap = w.ap - ShiftRight(w.ap, 4) + (fast ? 32 : 0);
  }
  // dq comes from the table, whose magnitudes are all at least 3.
  w.zeros.template Adapt<true>(dq, kTransition);
  w.p[OLDER] = p;
  w.sr[OLDER] = sr;
  return sr;
}

// The in-range encoder's code: the threshold table in place of the logarithm.
// row: where the scale factor's four quantised differences start in
// IN_RANGE.dq.
[[gnu::always_inline]] inline InRangeCode QuantizeInRange(int32_t s, int32_t se, int32_t y4,
                                                          size_t row) noexcept {
  // The difference s - se wrapped to 16 bits, held in the top half of a
  // 32-bit word (a wrapping product by 2^16): the sign tests and |d| need no
  // separate 16-bit wrap, and |d| of -32768 comes out as -2^31, below every
  // threshold, just as the pattern 0x8000 ranks as small.
  const int32_t dHigh = Mul32Wrap(Sub32Wrap(s, se), 1 << 16);
  const int32_t negMask = ShiftRight(dHigh, 31);
  const int32_t magnitudeHigh = Sub32Wrap(dHigh ^ negMask, negMask);
  const int32_t large = magnitudeHigh >= IN_RANGE.largeThresholdHigh[At(y4)];
  // Codes 3 and 2 are 3 - class = 3 ^ class. dq is picked from the row
  // already loaded rather than read by the new code, keeping a table read off
  // the path from this sample's estimate to the next one.
  const int32_t positive = large != 0 ? IN_RANGE.dq[row + 1] : IN_RANGE.dq[row];
  const int32_t negative = large != 0 ? IN_RANGE.dq[row + 2] : IN_RANGE.dq[row + 3];
  return {large ^ (negMask & 3), negMask != 0 ? negative : positive, large, large};
}

// Runs `perSample(transition, swapped, i)` for samples 0..count-1 of a record
// in range, transition telling the step whether the transition fires and
// swapped which history slot holds the previous sample. Samples run in pairs
// so that the slots are back in their places after each pair. Returns the
// final td.
template <typename InRangeWorkT, typename PerSample>
bool RunInRange(InRangeWorkT& w, bool td, int count, PerSample perSample) noexcept {
  int i = 0;
  for (; i + 1 < count; i += 2) {
    td = td ? perSample(std::true_type{}, std::false_type{}, i)
            : perSample(std::false_type{}, std::false_type{}, i);
    td = td ? perSample(std::true_type{}, std::true_type{}, i + 1)
            : perSample(std::false_type{}, std::true_type{}, i + 1);
  }
  if (i < count) {
    td = td ? perSample(std::true_type{}, std::false_type{}, i)
            : perSample(std::false_type{}, std::false_type{}, i);
    std::swap(w.sr[0], w.sr[1]);
    std::swap(w.p[0], w.p[1]);
  }
  return td;
}

template <typename ZeroSection>
InRangeWork<ZeroSection> LoadInRange(const Adpcm2State& s) noexcept {
  return {ZeroSection(s), {s.sr1, s.sr2}, {s.p1, s.p2}, s.a1, s.a2, s.dms, s.dml, s.ap, s.yu, s.yl};
}

template <typename ZeroSection>
void StoreInRange(const InRangeWork<ZeroSection>& w, bool td, void* block) noexcept {
  Store(Work<ZeroSection>{w.zeros, w.sr[0], w.sr[1], w.a1, w.a2, w.p[0], w.p[1], w.dms, w.dml, w.ap,
                          w.yu, td ? 1 : 0, w.yl},
        block);
}

// Encodes count samples, handing each code to sink(i, code). kUseRanges:
// take the in-range step where the record allows it.
template <typename ZeroSection, bool kUseRanges, typename Sink>
void EncodeSamples(const int16_t* pcm, int count, void* stateBlock, Sink sink) noexcept {
  const Adpcm2State record = LoadRecord(stateBlock);
  if (kUseRanges && InRange(record)) {
    InRangeWork<ZeroSection> w = LoadInRange<ZeroSection>(record);
    const bool td = RunInRange(w, record.td != 0, count, [&](auto transition, auto swapped, int i) {
      const int32_t s = pcm[i];
      bool tone;
      InRangeStep<decltype(transition)::value, decltype(swapped)::value>(
          w, tone, [&](int32_t se, int32_t y4, int32_t) {
            const InRangeCode c = QuantizeInRange(s, se, y4, 4 * At(y4));
            sink(i, c.code);
            return c;
          });
      return tone;
    });
    StoreInRange(w, td, stateBlock);
    return;
  }
  Work<ZeroSection> w = Load<ZeroSection>(record);
  for (int i = 0; i < count; ++i) {
    const int32_t s = pcm[i];
    Step(w, [&](int32_t se, int32_t y4) {
      const CodeChoice c = Quantize(s, se, y4);
      sink(i, CodeOf(c));
      return c;
    });
  }
  Store(w, stateBlock);
}

// Decodes count codes, code(i) giving the i-th (0..3).
template <typename ZeroSection, bool kUseRanges, typename CodeAt>
void DecodeSamples(CodeAt codeAt, int16_t* pcm, int count, void* stateBlock) noexcept {
  const Adpcm2State record = LoadRecord(stateBlock);
  if (kUseRanges && InRange(record)) {
    InRangeWork<ZeroSection> w = LoadInRange<ZeroSection>(record);
    const bool td = RunInRange(w, record.td != 0, count, [&](auto transition, auto swapped, int i) {
      const int32_t code = codeAt(i);
      bool tone;
      pcm[i] = Wrap16(InRangeStep<decltype(transition)::value, decltype(swapped)::value>(
          w, tone, [&](int32_t, int32_t, int32_t y) {
            // 4 * (y >> 2) + code, with one step fewer.
            return InRangeCode{code, IN_RANGE.dq[At(y & -4) + static_cast<size_t>(code)], code,
                               IN_RANGE.byCode[static_cast<size_t>(code)].large};
          }));
      return tone;
    });
    StoreInRange(w, td, stateBlock);
    return;
  }
  Work<ZeroSection> w = Load<ZeroSection>(record);
  for (int i = 0; i < count; ++i) {
    const int code = codeAt(i);
    pcm[i] = Wrap16(Step(w, [&](int32_t, int32_t) {
      return CodeChoice{code >> 1, Adpcm2WeightIndex(code)};
    }));
  }
  Store(w, stateBlock);
}

template <typename ZeroSection, bool kUseRanges>
void EncodeBlock(const int16_t* pcm, uint8_t* codes, int32_t n, void* stateBlock) noexcept {
  const int count = LowSigned16(n);
  if (count <= 0) return;
  EncodeSamples<ZeroSection, kUseRanges>(
      pcm, count, stateBlock, [codes](int i, int code) { codes[i] = static_cast<uint8_t>(code); });
}

template <typename ZeroSection, bool kUseRanges>
void DecodeBlock(const uint8_t* codes, int16_t* pcm, int32_t n, void* stateBlock) noexcept {
  const int count = LowSigned16(n);
  if (count <= 0) return;
  DecodeSamples<ZeroSection, kUseRanges>([codes](int i) { return codes[i] & 3; }, pcm, count,
                                         stateBlock);
}

}  // namespace

void Adpcm2Reset(void* stateBlock) noexcept {
  Adpcm2State s;
  s.sr1 = s.sr2 = RESET_HISTORY;
  s.a1 = s.a2 = 0;
  s.b1 = s.b2 = s.b3 = s.b4 = s.b5 = s.b6 = 0;
  s.dq1 = s.dq2 = s.dq3 = s.dq4 = s.dq5 = s.dq6 = RESET_HISTORY;
  s.dms = s.dml = s.ap = 0;
  s.yu = YU_MIN;
  s.td = s.p1 = s.p2 = 0;
  s.yl = YL_RESET;
  StoreRecord(s, stateBlock);
}

void Adpcm2EncodeBlock(const int16_t* pcm, uint8_t* codes, int32_t n, void* stateBlock) noexcept {
  EncodeBlock<FastZeroSection, true>(pcm, codes, n, stateBlock);
}

void Adpcm2DecodeBlock(const uint8_t* codes, int16_t* pcm, int32_t n, void* stateBlock) noexcept {
  DecodeBlock<FastZeroSection, true>(codes, pcm, n, stateBlock);
}

void Adpcm2EncodeBlockReference(const int16_t* pcm, uint8_t* codes, int32_t n,
                                void* stateBlock) noexcept {
  EncodeBlock<PortableZeroSection, false>(pcm, codes, n, stateBlock);
}

void Adpcm2DecodeBlockReference(const uint8_t* codes, int16_t* pcm, int32_t n,
                                void* stateBlock) noexcept {
  DecodeBlock<PortableZeroSection, false>(codes, pcm, n, stateBlock);
}

void Adpcm2EncodeFrame(void* stateBlock, const int16_t* pcm, uint16_t* frame, int n) noexcept {
  uint8_t codes[FRAME_MAX_SAMPLES];
  Adpcm2EncodeBlock(pcm, codes, n, stateBlock);
  FramePackAdpcm2(codes, n, frame);
}

void Adpcm2DecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept {
  uint8_t codes[FRAME_MAX_SAMPLES];
  FrameUnpackAdpcm2(frame, codes);
  Adpcm2DecodeBlock(codes, pcm, 8 * FrameLengthByte(frame), stateBlock);
}

}  // namespace zelk
