// Quality and speed figures.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zv {

// Signal-to-noise ratio of `decoded` against `reference` over their common
// length, in dB; +infinity when they are identical.
double SnrDb(std::span<const int16_t> reference, std::span<const int16_t> decoded);

inline constexpr int SEGMENT_SAMPLES = 160;  // 20 ms at 8 kHz
inline constexpr double SEGMENT_SNR_MIN_DB = -10.0;
inline constexpr double SEGMENT_SNR_MAX_DB = 35.0;

// Per-segment SNR over whole 20 ms segments, each clamped to -10..35 dB (a
// segment without error counts 35, one without signal but with error -10),
// and their mean. A signal shorter than one segment is one short segment.
struct SegmentalSnr {
  double meanDb = 0;
  std::vector<double> segmentsDb;
};
SegmentalSnr SegmentalSnrDb(std::span<const int16_t> reference, std::span<const int16_t> decoded);

// Seconds one call of `work` takes: repeated until at least `minSeconds` have
// passed, the best of three such batches.
double SecondsPerRun(const std::function<void()>& work, double minSeconds);

}  // namespace zv
