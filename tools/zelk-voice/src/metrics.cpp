#include "metrics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace zv {

namespace {

struct Energies {
  double signal = 0;
  double error = 0;
};

Energies Measure(std::span<const int16_t> reference, std::span<const int16_t> decoded) {
  Energies e;
  const size_t n = std::min(reference.size(), decoded.size());
  for (size_t i = 0; i < n; ++i) {
    const double r = reference[i];
    const double d = r - decoded[i];
    e.signal += r * r;
    e.error += d * d;
  }
  return e;
}

double RatioDb(const Energies& e) {
  if (e.error == 0) return std::numeric_limits<double>::infinity();
  if (e.signal == 0) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(e.signal / e.error);
}

}  // namespace

double SnrDb(std::span<const int16_t> reference, std::span<const int16_t> decoded) {
  return RatioDb(Measure(reference, decoded));
}

SegmentalSnr SegmentalSnrDb(std::span<const int16_t> reference, std::span<const int16_t> decoded) {
  const size_t n = std::min(reference.size(), decoded.size());
  SegmentalSnr result;
  const size_t segments = std::max<size_t>(n / SEGMENT_SAMPLES, n > 0 ? 1 : 0);
  double sum = 0;
  for (size_t s = 0; s < segments; ++s) {
    const size_t start = s * SEGMENT_SAMPLES;
    const size_t length = std::min<size_t>(SEGMENT_SAMPLES, n - start);
    const double db = std::clamp(
        RatioDb(Measure(reference.subspan(start, length), decoded.subspan(start, length))),
        SEGMENT_SNR_MIN_DB, SEGMENT_SNR_MAX_DB);
    result.segmentsDb.push_back(db);
    sum += db;
  }
  result.meanDb = segments ? sum / static_cast<double>(segments) : 0.0;
  return result;
}

double SecondsPerRun(const std::function<void()>& work, double minSeconds) {
  using Clock = std::chrono::steady_clock;
  work();  // warm caches and page in the buffers
  double best = std::numeric_limits<double>::infinity();
  for (int batch = 0; batch < 3; ++batch) {
    long runs = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
      work();
      ++runs;
      elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < minSeconds / 3);
    best = std::min(best, elapsed / static_cast<double>(runs));
  }
  return best;
}

}  // namespace zv
