// Quality figures.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zv {

inline constexpr int SEGMENT_SAMPLES = 160;  // 20 ms at 8 kHz
inline constexpr double SEGMENT_SNR_MIN_DB = -10.0;
inline constexpr double SEGMENT_SNR_MAX_DB = 35.0;

// Per-segment SNR over whole 20 ms segments, each clamped to -10..35 dB (a
// segment without error counts 35, one without signal but with error -10),
// and their mean. A signal shorter than one segment is one short segment.
struct SegmentalSnr {
  double meanDb = 0;
  std::vector<double> segmentsDb;  // kept only when asked for
};

// SNR and segmental SNR of a decoded signal against its reference, fed piece
// by piece in step.
class QualityMeter {
 public:
  explicit QualityMeter(bool keepSegments) : keepSegments_(keepSegments) {}

  void Add(std::span<const int16_t> reference, std::span<const int16_t> decoded);

  // Signal-to-noise ratio over everything added, in dB; +infinity when the
  // two are identical.
  double SnrDb() const;
  SegmentalSnr Segmental() const;

 private:
  struct Energies {
    double signal = 0;
    double error = 0;
  };
  void CloseSegment();

  bool keepSegments_;
  Energies total_;
  Energies segment_;
  int segmentFill_ = 0;
  size_t segments_ = 0;
  double segmentSum_ = 0;
  std::vector<double> segmentsDb_;
};

}  // namespace zv
