// Exact integer helpers of the RTP component. The concealment works in
// integers only, so a receiver gives the same samples on every platform (the
// 32-bit Windows DLL included); nothing here relies on signed overflow.
#pragma once

#include <cstdint>

namespace zelk::rtp {

static_assert((-1 >> 1) == -1, "right shifts of negative values must be arithmetic");

// v limited to lo..hi.
constexpr int32_t Clamp(int32_t v, int32_t lo, int32_t hi) noexcept {
  return v < lo ? lo : (v > hi ? hi : v);
}

// v saturated to the 16-bit sample range.
constexpr int16_t Saturate16(int32_t v) noexcept {
  return static_cast<int16_t>(Clamp(v, -32768, 32767));
}

// a * (1 - w) + b * w for a weight w in Q15 (0..32768), rounded to nearest.
// |a|, |b| <= 65536 keeps every product and the sum inside 32 bits.
constexpr int32_t MixQ15(int32_t a, int32_t b, int32_t w) noexcept {
  return (a * (32768 - w) + b * w + 16384) >> 15;
}

}  // namespace zelk::rtp
