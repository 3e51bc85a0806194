// Two-bit ADPCM building blocks: a Q7 base-2 logarithm, the two-level
// quantiser, the inverse logarithm and the second-pole update, with the
// per-code constants (the G.726 16 kbit/s quantiser tables).
//
// Codes are two bits. Bit 1 is the sign of the difference (set for negative);
// the magnitude class runs outwards from the middle:
//
//   code 0: non-negative, small    code 2: negative, large
//   code 1: non-negative, large    code 3: negative, small
//
// so codes 2 and 3 mirror codes 1 and 0, and the per-code weights F and W are
// stored for codes 0 and 1 only and read at 3 - code for the negative codes.
//
// All functions are pure and total: any 16-bit argument gives a defined result
// without a read outside the table.
#pragma once

#include <bit>
#include <cstdint>

#include "codec/fixed_point.h"

namespace zelk {

// One array, three tables: F (rate-of-change weight) and W (scale-factor
// multiplier) for codes 0 and 1, then DQLN (normalised log reconstruction
// level, Q7) for codes 0..3.
inline constexpr int16_t ADPCM2_TABLE[8] = {0, 7, -22, 439, 116, 365, 365, 116};
inline constexpr const int16_t* ADPCM2_F_TABLE = ADPCM2_TABLE;
inline constexpr const int16_t* ADPCM2_W_TABLE = ADPCM2_TABLE + 2;
inline constexpr const int16_t* ADPCM2_DQLN_TABLE = ADPCM2_TABLE + 4;

// Quantiser decision: a normalised log magnitude of at least this is "large".
inline constexpr int32_t ADPCM2_LARGE_THRESHOLD = 261;

// Index into F and W for a code 0..3: the code for 0 and 1, 3 - code for 2 and
// 3. That is the magnitude class itself (1 = large).
constexpr int Adpcm2WeightIndex(int code) noexcept { return (code ^ (code >> 1)) & 1; }

// The Q7 logarithm of a magnitude 0..32767: 128 * floor(log2 x) plus the seven
// bits that follow the leading one, and -128 for 0. Shifting x up by 7 and
// down by its exponent leaves the leading one at bit 7 with the fraction under
// it; for 0 the same formula (with exponent 0) gives exactly -128.
constexpr int32_t Adpcm2Log2Magnitude(uint32_t x) noexcept {
  const int e = static_cast<int>(std::bit_width(x | 1u)) - 1;  // 0..14
  return 128 * e + static_cast<int32_t>((x << 7) >> e) - 128;
}

// Base-2 logarithm of a 16-bit value, in Q7 (128 per octave), -128..1919. Every
// value below 2 gives 128 * x - 128 wrapped to 16 bits, which ranks 0 and the
// pattern 0x8000 (the magnitude of a difference of -32768) alike at -128.
constexpr int16_t Adpcm2Log2(int16_t x) noexcept {
  if (x < 2) return Wrap16(Sub32Wrap(Mul32Wrap(x, 128), 128));
  return Wrap16(Adpcm2Log2Magnitude(static_cast<uint32_t>(x)));
}

struct Adpcm2Quantized {
  int code;      // 0..3
  int16_t dqln;  // the code's normalised log reconstruction level
};

// The code for a normalised log magnitude dln and the sign of the difference.
constexpr Adpcm2Quantized Adpcm2Quantize(int16_t dln, int negative) noexcept {
  const int large = dln >= ADPCM2_LARGE_THRESHOLD ? 1 : 0;
  const int code = negative != 0 ? 3 - large : large;
  return {code, ADPCM2_DQLN_TABLE[code]};
}

// Magnitude of the difference whose Q7 logarithm is dql: (128 + m) * 128,
// shifted down by 14 - e, with e = dql >> 7 and m the low seven bits. The shift
// count is taken modulo 32 (the low five bits of 14 - e); since the shifted
// value is below 2^15, every count of 15 or more gives 0.
constexpr int32_t Adpcm2ReconstructMagnitude(int32_t dql) noexcept {
  const int32_t e = ShiftRight(dql, 7);
  const int32_t mantissa = 128 + (dql & 127);  // 128..255
  return (mantissa << 7) >> ((14 - e) & 31);
}

// The quantised difference for log magnitude dql and a sign flag, as a signed
// 32-bit value (two's complement, not sign and magnitude).
constexpr int32_t Adpcm2Reconstruct(int16_t dql, int negative) noexcept {
  const int32_t magnitude = Adpcm2ReconstructMagnitude(dql);
  return negative != 0 ? -magnitude : magnitude;
}

// Limits of the second pole coefficient and of the first coefficient's share
// in its update.
inline constexpr int32_t ADPCM2_A2_LIMIT = 12288;
inline constexpr int32_t ADPCM2_A1_CLIP_IN_A2 = 8192;

// Candidate second pole coefficient. p1 and p2 are the partial reconstructed
// signals one and two samples back, a2 and a1 the current coefficients (all
// 16-bit values held in 32 bits), pNegative the sign of the current partial
// signal (zero counts as non-negative). The sum is formed in 32 bits and
// limited to +-12288.
constexpr int32_t Adpcm2Pole2Candidate(int32_t p1, int32_t p2, int32_t a2, int32_t a1,
                                       bool pNegative) noexcept {
  const int32_t a1c = Clamp(a1, -ADPCM2_A1_CLIP_IN_A2, ADPCM2_A1_CLIP_IN_A2);
  int32_t t = pNegative == (p2 < 0) ? 4096 : -4096;
  t = pNegative == (p1 < 0) ? t - a1c : t + a1c;
  const int32_t candidate = a2 - ShiftRight(a2, 7) + ShiftRight(t, 5);
  return Clamp(candidate, -ADPCM2_A2_LIMIT, ADPCM2_A2_LIMIT);
}

// The same for 16-bit arguments, with the sign of the current partial signal
// given as -1, 0 or +1.
constexpr int16_t Adpcm2UpdatePole2(int16_t p1, int16_t p2, int16_t a2, int16_t a1,
                                    int pSign) noexcept {
  return static_cast<int16_t>(Adpcm2Pole2Candidate(p1, p2, a2, a1, pSign < 0));
}

}  // namespace zelk
