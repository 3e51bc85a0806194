// Rate conversion as a stream, with libsoxr's streaming interface at high
// quality, and the rounding to 16 bits that follows it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct soxr;

namespace zv {

// What rounding to 16 bits cost: samples beyond the 16-bit range were clipped.
struct ClipStats {
  uint64_t samples = 0;  // samples delivered
  uint64_t clipped = 0;  // of them, clipped to -32768 or 32767
  int peak = 0;          // largest magnitude delivered, 0..32768
};

// Frames that n input frames give at the new rate: n * to / from, rounded to
// the nearest. A stream converted by RateConverter has exactly this length.
uint64_t ConvertedFrames(uint64_t inputFrames, int fromRate, int toRate);

// "NAME: too short: 1 sample at 48000 Hz gives no sample at 8000 Hz"
std::string TooShort(const std::string& name, uint64_t inputFrames, int fromRate, int toRate);

// Takes interleaved samples scaled to +-1.0 (16-bit full scale is 32768) at
// `fromRate`, and delivers them at `toRate` as 16-bit samples. With equal
// rates the samples pass straight through the rounding. Memory stays a few
// blocks whatever the length.
class RateConverter {
 public:
  RateConverter(int fromRate, int toRate, int channels);
  ~RateConverter();
  RateConverter(const RateConverter&) = delete;
  RateConverter& operator=(const RateConverter&) = delete;

  bool Resampling() const { return resampler_ != nullptr; }

  // Converts whole input frames, appending what is ready to `out`.
  void Push(std::span<const double> in, std::vector<int16_t>& out);

  // The end of the input: flushes, trimming or padding with silence to
  // exactly ConvertedFrames(frames pushed) frames.
  void Finish(std::vector<int16_t>& out);

  const ClipStats& Stats() const { return stats_; }

 private:
  void Deliver(const double* v, size_t frames, std::vector<int16_t>& out);

  int fromRate_, toRate_, channels_;
  soxr* resampler_ = nullptr;
  uint64_t framesIn_ = 0;
  uint64_t framesOut_ = 0;
  std::vector<double> buffer_;
  ClipStats stats_;
};

}  // namespace zv
