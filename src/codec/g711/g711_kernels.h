// G.711 frame kernels: compression fused with packing, unpacking fused with
// expansion, built once per x86 instruction-set level and picked at run time.
//
// Every kernel gives exactly the codes of G711AlawCompressSample /
// G711UlawCompressSample and the samples of the expand tables; only the shape
// of the arithmetic differs. The per-sample forms below avoid tables and
// variable shifts so that the compiler can run 16 or 32 samples per
// instruction: an integer converted to binary32 already carries its segment
// (the exponent) and its four leading mantissa bits (the top of the fraction),
// which is exactly what a G.711 code holds.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <span>

#include "codec/fixed_point.h"

namespace zelk {

static_assert(std::numeric_limits<float>::is_iec559, "the lane forms read binary32 bit fields");

// Offset that turns (binary32 bits >> 19), that is (biased exponent << 4 |
// four leading fraction bits), into (segment << 4 | mantissa) when the
// integer converted is 8 times the G.711 magnitude: a value in segment s has
// its leading one at bit s + 7 of that integer, biased exponent s + 134.
inline constexpr int32_t G711_FLOAT_SEGMENT_OFFSET = 134 << 4;

// (binary32 bits >> 19) of a non-negative integer below 2^24 (exact).
constexpr int32_t G711ExponentAndMantissa(int32_t v) noexcept {
  return static_cast<int32_t>(std::bit_cast<uint32_t>(static_cast<float>(v)) >> 19);
}

// A-law code of one sample, equal to G711AlawCompressSample for every input.
// The one's-complement magnitude u keeps all 16 bits (the 13-bit magnitude is
// u >> 3), so it is 8 times the magnitude plus bits that never reach the four
// leading mantissa bits of segments 1..7. Segment 0 has the step of segment 1,
// so below 512 the code is simply u >> 4; the float form is smaller there and
// at least 32 above, which lets a max() choose without a branch.
constexpr uint16_t G711AlawCompressLane(int16_t x) noexcept {
  const int16_t negative = Wrap16(ShiftRight(x, 15));  // 0 or -1
  const int16_t u = Wrap16(x ^ negative);              // 0..32767
  const int16_t viaFloat = Wrap16(G711ExponentAndMantissa(u) - G711_FLOAT_SEGMENT_OFFSET);
  const int16_t lowSegments = std::min(Wrap16(ShiftRight(u, 4)), int16_t{31});
  const int16_t code7 = std::max(viaFloat, lowSegments);
  return static_cast<uint16_t>(code7 ^ 0xD5 ^ (negative & 0x80));
}

// mu-law code of one sample, equal to G711UlawCompressSample for every input.
// With w = |x >> 2| + 33 (the two's-complement magnitude), 4w = |x & ~3| + 132
// needs no shift and is below 2^16 even for -32768. Magnitudes past the clip
// level land in segment 9, which the final min() folds onto 0x7F exactly as
// the clip would.
constexpr uint16_t G711UlawCompressLane(int16_t x) noexcept {
  const int16_t negative = Wrap16(ShiftRight(x, 15));  // 0 or -1
  const int16_t truncated = Wrap16(x & ~3);
  const uint16_t w4 = static_cast<uint16_t>(((truncated ^ negative) - negative) + 132);
  const int16_t raw = Wrap16(G711ExponentAndMantissa(w4) - G711_FLOAT_SEGMENT_OFFSET);
  const int16_t code7 = std::min(raw, int16_t{0x7F});
  return static_cast<uint16_t>(code7 ^ 0xFF ^ (negative & 0x80));
}

// Both laws expand to (2m + 33) * 2^(s + 2) (less 132 for mu-law), and
// 2m + 33 = 0b1mmmm1, so that product is the binary32 number with biased
// exponent s + 134 and fraction bits mmmm1: built from the code's low seven
// bits with one shift and one add.
constexpr int32_t G711ExpandViaFloat(uint32_t segmentAndMantissa) noexcept {
  constexpr uint32_t kSegment0Mantissa0 = (134u << 23) | (1u << 18);  // 132.0f
  return static_cast<int32_t>(
      std::bit_cast<float>((segmentAndMantissa << 19) + kSegment0Mantissa0));
}

// A-law sample of one code (0..255), equal to G711_ALAW_EXPAND_TABLE. In
// segment 0 the magnitude is 16m + 8 = 2F - 256 for the F built as if the
// segment had the shape of the others; F is at most 252 there and at least
// 264 elsewhere, so min(F, 2F - 256) picks the right form.
constexpr int16_t G711AlawExpandLane(uint32_t code) noexcept {
  const uint32_t t = code ^ 0x55;
  const int32_t f = G711ExpandViaFloat(t & 0x7F);
  const int32_t magnitude = std::min(f, 2 * f - 256);
  return Wrap16((t & 0x80) != 0 ? magnitude : -magnitude);
}

// mu-law sample of one code (0..255), equal to G711_ULAW_EXPAND_TABLE.
constexpr int16_t G711UlawExpandLane(uint32_t code) noexcept {
  const uint32_t t = ~code & 0xFF;
  const int32_t magnitude = G711ExpandViaFloat(t & 0x7F) - 132;
  return Wrap16((t & 0x80) != 0 ? -magnitude : magnitude);
}

// One frame's payload: `words` words from 2 * words samples, or back. The
// payload words are stored and loaded in the frame's byte order; the two
// buffers must not overlap.
using G711EncodeKernel = void (*)(const int16_t* pcm, int words, uint16_t* payload) noexcept;
using G711DecodeKernel = void (*)(const uint16_t* payload, int words, int16_t* pcm) noexcept;

// The four kernels of one instruction-set level.
struct G711Kernels {
  const char* name;
  bool (*supported)() noexcept;  // whether this CPU runs them
  G711EncodeKernel alawEncode;
  G711EncodeKernel ulawEncode;
  G711DecodeKernel alawDecode;
  G711DecodeKernel ulawDecode;
};

// Every level this build holds, fastest first. The last is plain C++ and runs
// on every CPU.
std::span<const G711Kernels> G711KernelLevels() noexcept;

// The fastest level that this CPU runs.
const G711Kernels& G711ActiveKernels() noexcept;

}  // namespace zelk
