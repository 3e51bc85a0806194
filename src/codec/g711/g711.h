// G.711 A-law and mu-law: memoryless companding, one 8-bit code per sample.
//
// Codes are in the form G.711 transmits them: A-law with its even bits
// inverted (XOR 0x55), mu-law with all bits inverted; bit 7 set means a
// non-negative sample. The compressors are branch-free arithmetic so that the
// compiler can vectorise a whole frame; the expanders are one table read.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace zelk {

// Normalisation count of a 16-bit value: how far it can be shifted left
// before bit 15 changes, 0..15. For v > 0 that is 15 minus the number of
// significant bits; 0 and -1 give 15.
constexpr int G711NormCount(int16_t v) noexcept {
  const int32_t magnitude = v ^ (v >> 15);  // one's complement of negatives
  return 15 - static_cast<int>(std::bit_width(static_cast<uint32_t>(magnitude)));
}

// A-law of one sample, from its 13 high-order bits.
constexpr uint8_t G711AlawCompressSample(int16_t x) noexcept {
  int32_t v = x >> 3;                // -4096..4095
  const int32_t negative = v >> 31;  // -1 or 0
  v ^= negative;                     // NOT v for negatives: 0..4095
  const uint32_t mask = 0xD5u ^ (static_cast<uint32_t>(negative) & 0x80u);  // 0x55 or 0xD5
  // Segment 0 covers 0..31; above that one segment per octave, up to 7.
  const int32_t seg = std::max(10 - G711NormCount(static_cast<int16_t>(v)), 0);
  const int32_t mantissa = (v >> std::max(seg, 1)) & 15;  // segment 0 has the same step as 1
  return static_cast<uint8_t>(static_cast<uint32_t>((seg << 4) | mantissa) ^ mask);
}

// mu-law of one sample, from its 14 high-order bits. A negative sample's
// magnitude is the two's complement -(x >> 2), so 508 negative inputs land one
// step further out than with a one's-complement magnitude, and -1..-4 code as
// 0x7E; stored streams depend on exactly this rounding.
constexpr uint8_t G711UlawCompressSample(int16_t x) noexcept {
  int32_t v = x >> 2;                                                       // -8192..8191
  const int32_t negative = v >> 31;                                         // -1 or 0
  v = (v ^ negative) - negative;                                            // |v|, 0..8192
  const uint32_t mask = 0xFFu ^ (static_cast<uint32_t>(negative) & 0x80u);  // 0x7F or 0xFF
  v = std::min(v, int32_t{8159}) + 33;                                      // 33..8192
  const int32_t seg = 10 - G711NormCount(static_cast<int16_t>(v));          // 1..9
  const int32_t raw = ((seg - 1) << 4) | ((v >> seg) & 15);
  // Only v = 8192 reaches segment 9; it codes like the top of segment 8.
  return static_cast<uint8_t>(static_cast<uint32_t>(std::min(raw, int32_t{0x7F})) ^ mask);
}

namespace g711_detail {
constexpr std::array<int16_t, 256> MakeAlawExpandTable() {
  std::array<int16_t, 256> table{};
  for (int k = 0; k < 256; ++k) {
    const int t = k ^ 0x55;
    const int s = (t >> 4) & 7;
    const int m = t & 15;
    const int magnitude = s == 0 ? 16 * m + 8 : (16 * m + 264) << (s - 1);
    table[static_cast<size_t>(k)] = static_cast<int16_t>(k >= 128 ? magnitude : -magnitude);
  }
  return table;
}
constexpr std::array<int16_t, 256> MakeUlawExpandTable() {
  std::array<int16_t, 256> table{};
  for (int k = 0; k < 256; ++k) {
    const int t = ~k & 0xFF;
    const int s = (t >> 4) & 7;
    const int m = t & 15;
    const int magnitude = ((8 * m + 132) << s) - 132;
    table[static_cast<size_t>(k)] = static_cast<int16_t>(k < 128 ? -magnitude : magnitude);
  }
  return table;
}
}  // namespace g711_detail

// Decoder output for every code: the G.711 values on the 13-bit (A-law) and
// 14-bit (mu-law) scales, brought to 16 bits.
inline constexpr std::array<int16_t, 256> G711_ALAW_EXPAND_TABLE =
    g711_detail::MakeAlawExpandTable();
inline constexpr std::array<int16_t, 256> G711_ULAW_EXPAND_TABLE =
    g711_detail::MakeUlawExpandTable();

// Block operations, one code per 16-bit element. A count whose low 16 bits are
// zero or negative does nothing.
void G711AlawCompress(const int16_t* samples, uint16_t* codes, int32_t count) noexcept;
void G711UlawCompress(const int16_t* samples, uint16_t* codes, int32_t count) noexcept;
void G711AlawExpand(const uint16_t* codes, int16_t* samples, int32_t count) noexcept;
void G711UlawExpand(const uint16_t* codes, int16_t* samples, int32_t count) noexcept;

// One frame of n samples (80..480, validated by the caller) for codec type 1
// (A-law) or 2 (mu-law). Compression and packing run in one loop, in the
// fastest kernels of g711_kernels.h that the CPU runs; the codes are those of
// the per-sample compressors above. pcm and frame may overlap in any way: the
// result is that of separate buffers.
void G711EncodeFrame(const int16_t* pcm, int n, int codecType, uint16_t* frame) noexcept;

// A validated frame into 2 * L samples, L being the frame's length byte; frame
// and pcm may overlap, as for encoding.
void G711DecodeFrame(const uint16_t* frame, int16_t* pcm, int codecType) noexcept;

}  // namespace zelk
