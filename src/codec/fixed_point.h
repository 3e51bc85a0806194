// Exact integer helpers shared by the codecs.
//
// The ADPCM coders stay in step with their peers only if every wrap, shift and
// rounding direction is exactly the same on both sides, so each of them is one
// named call here rather than a cast hidden in an expression. Nothing below
// relies on signed overflow, which C++ leaves undefined: wrapping sums are
// formed in unsigned arithmetic and narrowed, and C++20 defines both the
// narrowing (modulo 2^N) and `>>` on negative values (arithmetic).
#pragma once

#include <cstdint>

namespace zelk {

static_assert((-1 >> 1) == -1, "right shifts of negative values must be arithmetic");
static_assert(static_cast<int16_t>(0x18000) == -32768, "narrowing must wrap modulo 2^16");

// The value reduced modulo 2^16 to a signed 16-bit number (two's-complement wrap).
constexpr int16_t Wrap16(int32_t v) noexcept { return static_cast<int16_t>(v); }

// a + b modulo 2^32.
constexpr int32_t Add32Wrap(int32_t a, int32_t b) noexcept {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// a - b modulo 2^32.
constexpr int32_t Sub32Wrap(int32_t a, int32_t b) noexcept {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// a * b modulo 2^32.
constexpr int32_t Mul32Wrap(int32_t a, int32_t b) noexcept {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// a + b modulo 2^16, as a signed 16-bit value.
constexpr int16_t Add16Wrap(int32_t a, int32_t b) noexcept { return Wrap16(Add32Wrap(a, b)); }

// a - b modulo 2^16, as a signed 16-bit value.
constexpr int16_t Sub16Wrap(int32_t a, int32_t b) noexcept { return Wrap16(Sub32Wrap(a, b)); }

// Arithmetic right shift: propagates the sign, rounds towards minus infinity.
constexpr int32_t ShiftRight(int32_t v, int n) noexcept { return v >> n; }

// v limited to lo..hi.
constexpr int32_t Clamp(int32_t v, int32_t lo, int32_t hi) noexcept {
  return v < lo ? lo : (v > hi ? hi : v);
}

// The low 16 bits of a 32-bit argument, taken as a signed number. Hosts pass
// 32-bit arguments of which only this part counts.
constexpr int16_t LowSigned16(int32_t v) noexcept { return Wrap16(v); }

}  // namespace zelk
