#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zv {

namespace {

double RatioDb(double signal, double error) {
  if (error == 0) return std::numeric_limits<double>::infinity();
  if (signal == 0) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / error);
}

double ClampedDb(double signal, double error) {
  return std::clamp(RatioDb(signal, error), SEGMENT_SNR_MIN_DB, SEGMENT_SNR_MAX_DB);
}

}  // namespace

void QualityMeter::Add(std::span<const int16_t> reference, std::span<const int16_t> decoded) {
  const size_t n = std::min(reference.size(), decoded.size());
  for (size_t i = 0; i < n; ++i) {
    const double r = reference[i];
    const double d = r - decoded[i];
    segment_.signal += r * r;
    segment_.error += d * d;
    if (++segmentFill_ == SEGMENT_SAMPLES) CloseSegment();
  }
}

void QualityMeter::CloseSegment() {
  const double db = ClampedDb(segment_.signal, segment_.error);
  if (keepSegments_) segmentsDb_.push_back(db);
  segmentSum_ += db;
  ++segments_;
  total_.signal += segment_.signal;
  total_.error += segment_.error;
  segment_ = {};
  segmentFill_ = 0;
}

double QualityMeter::SnrDb() const {
  return RatioDb(total_.signal + segment_.signal, total_.error + segment_.error);
}

SegmentalSnr QualityMeter::Segmental() const {
  SegmentalSnr result;
  result.segmentsDb = segmentsDb_;
  if (segments_ > 0) {
    result.meanDb = segmentSum_ / static_cast<double>(segments_);
  } else if (segmentFill_ > 0) {
    result.meanDb = ClampedDb(segment_.signal, segment_.error);
    if (keepSegments_) result.segmentsDb.push_back(result.meanDb);
  }
  return result;
}

}  // namespace zv
