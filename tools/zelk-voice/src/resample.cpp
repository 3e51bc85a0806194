#include "resample.h"

#include <fmt/format.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>

#include "failure.h"

namespace zv {

namespace {

constexpr size_t OUT_BLOCK_FRAMES = 4096;

}  // namespace

uint64_t ConvertedFrames(uint64_t inputFrames, int fromRate, int toRate) {
  if (fromRate == toRate) return inputFrames;
  // n * to / from rounded half up, in integers and without overflow.
  const auto from = static_cast<uint64_t>(fromRate), to = static_cast<uint64_t>(toRate);
  return inputFrames / from * to + (inputFrames % from * to + from / 2) / from;
}

std::string TooShort(const std::string& name, uint64_t inputFrames, int fromRate, int toRate) {
  return fmt::format("{}: too short: {} sample{} at {} Hz give{} no sample at {} Hz", name,
                     inputFrames, inputFrames == 1 ? "" : "s", fromRate,
                     inputFrames == 1 ? "s" : "", toRate);
}

RateConverter::RateConverter(int fromRate, int toRate, int channels)
    : fromRate_(fromRate), toRate_(toRate), channels_(channels) {
  if (fromRate == toRate) return;
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  resampler_ = soxr_create(fromRate, toRate, static_cast<unsigned>(channels), &error, &io, &quality,
                           nullptr);
  if (error != nullptr || resampler_ == nullptr) {
    throw Failure(fmt::format("cannot resample from {} to {} Hz: {}", fromRate, toRate,
                              error != nullptr ? error : "libsoxr failed"));
  }
  buffer_.resize(OUT_BLOCK_FRAMES * static_cast<size_t>(channels));
}

RateConverter::~RateConverter() {
  if (resampler_ != nullptr) soxr_delete(resampler_);
}

void RateConverter::Deliver(const double* v, size_t frames, std::vector<int16_t>& out) {
  const size_t n = frames * static_cast<size_t>(channels_);
  const size_t base = out.size();
  out.resize(base + n);
  uint64_t clipped = 0;
  int peak = stats_.peak;
  for (size_t i = 0; i < n; ++i) {
    const double scaled = std::round(v[i] * 32768.0);
    double s = scaled;
    if (scaled > 32767.0) {
      s = 32767.0;
      ++clipped;
    } else if (scaled < -32768.0) {
      s = -32768.0;
      ++clipped;
    } else if (std::isnan(scaled)) {
      s = 0.0;
      ++clipped;
    }
    const auto sample = static_cast<int16_t>(s);
    out[base + i] = sample;
    peak = std::max(peak, std::abs(int{sample}));
  }
  stats_.samples += n;
  stats_.clipped += clipped;
  stats_.peak = peak;
  framesOut_ += frames;
}

void RateConverter::Push(std::span<const double> in, std::vector<int16_t>& out) {
  const size_t frames = in.size() / static_cast<size_t>(channels_);
  framesIn_ += frames;
  if (resampler_ == nullptr) {
    Deliver(in.data(), frames, out);
    return;
  }
  size_t done = 0;
  while (done < frames) {
    size_t used = 0, produced = 0;
    const soxr_error_t error =
        soxr_process(resampler_, in.data() + done * static_cast<size_t>(channels_), frames - done,
                     &used, buffer_.data(), OUT_BLOCK_FRAMES, &produced);
    if (error != nullptr) throw Failure(fmt::format("resampling failed: {}", error));
    Deliver(buffer_.data(), produced, out);
    done += used;
  }
}

void RateConverter::Finish(std::vector<int16_t>& out) {
  const uint64_t target = ConvertedFrames(framesIn_, fromRate_, toRate_);
  if (resampler_ != nullptr) {
    for (;;) {
      size_t produced = 0;
      const soxr_error_t error = soxr_process(resampler_, nullptr, 0, nullptr, buffer_.data(),
                                              OUT_BLOCK_FRAMES, &produced);
      if (error != nullptr) throw Failure(fmt::format("resampling failed: {}", error));
      if (produced == 0) break;
      const uint64_t room = target > framesOut_ ? target - framesOut_ : 0;
      Deliver(buffer_.data(), static_cast<size_t>(std::min<uint64_t>(produced, room)), out);
    }
  }
  if (framesOut_ < target) {
    const std::vector<double> silence(static_cast<size_t>(target - framesOut_) *
                                      static_cast<size_t>(channels_));
    Deliver(silence.data(), static_cast<size_t>(target - framesOut_), out);
  }
}

}  // namespace zv
