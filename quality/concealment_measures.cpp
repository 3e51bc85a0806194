#include "concealment_measures.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>

namespace zelk::quality {

namespace {

// In-place radix-2 FFT; a.size() is a power of two.
void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> wl(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t j = 0; j < len / 2; ++j) {
        const auto u = a[i + j], v = a[i + j + len / 2] * w;
        a[i + j] = u + v;
        a[i + j + len / 2] = u - v;
        w *= wl;
      }
    }
  }
}

size_t FftSize(size_t samples) {
  size_t n = 1;
  while (n < samples) n <<= 1;
  return n;
}

// Power spectrum of one Hann-windowed frame, in dB, floored at 0 dB (a power
// of 1 in squared sample units per bin).
std::vector<double> SpectrumDb(std::span<const int16_t> x, size_t fftSize) {
  std::vector<std::complex<double>> a(fftSize);
  const double length = static_cast<double>(x.size());
  double windowPower = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double w =
        0.5 - 0.5 * std::cos(2 * std::numbers::pi * (static_cast<double>(i) + 0.5) / length);
    a[i] = w * static_cast<double>(x[i]);
    windowPower += w * w;
  }
  Fft(a);
  std::vector<double> db(fftSize / 2 + 1);
  for (size_t k = 0; k < db.size(); ++k) {
    db[k] = 10 * std::log10(std::max(1.0, std::norm(a[k]) / windowPower));
  }
  return db;
}

// The log-spectral distance between two frames of equal length, in dB.
double LogSpectralDistanceDb(std::span<const int16_t> reference,
                             std::span<const int16_t> concealed) {
  const size_t fftSize = FftSize(reference.size());
  const auto ref = SpectrumDb(reference, fftSize);
  const auto got = SpectrumDb(concealed.first(reference.size()), fftSize);
  double sum = 0;
  for (size_t k = 0; k < ref.size(); ++k) sum += (ref[k] - got[k]) * (ref[k] - got[k]);
  return std::sqrt(sum / static_cast<double>(ref.size()));
}

}  // namespace

double Rms(std::span<const int16_t> x) {
  if (x.empty()) return 0;
  double sum = 0;
  for (int16_t v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(x.size()));
}

void SpectralDistanceTally::AddFrame(std::span<const int16_t> reference,
                                     std::span<const int16_t> concealed) {
  if (Rms(reference) < LSD_MIN_REFERENCE_RMS) return;
  sumDb_ += LogSpectralDistanceDb(reference, concealed);
  ++frames_;
}

double SpectralDistanceTally::MeanDb() const {
  return frames_ ? sumDb_ / static_cast<double>(frames_) : 0;
}

void JumpTally::Add(int16_t before, int16_t after) {
  ++counts_[static_cast<size_t>(std::abs(after - before))];
  ++count_;
}

int JumpTally::Percentile(int percent) const {
  if (count_ == 0) return 0;
  const uint64_t index = count_ * static_cast<uint64_t>(percent) / 100;
  uint64_t below = 0;
  for (size_t v = 0; v < counts_.size(); ++v) {
    below += counts_[v];
    if (below > index) return static_cast<int>(v);
  }
  return static_cast<int>(counts_.size() - 1);
}

}  // namespace zelk::quality
