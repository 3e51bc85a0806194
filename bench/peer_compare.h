// Our codecs against spandsp's on one speech-like signal, in one process.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelk::bench {

inline constexpr size_t kFrameSamples = 160;

// Msamples/s of `work`, which processes `samplesPerCall` samples per call:
// the best of several timed rounds, so that a busy machine hurts less.
template <typename Work>
double MeasureMsps(Work&& work, size_t samplesPerCall) {
  using Clock = std::chrono::steady_clock;
  double best = 0;
  for (int round = 0; round < 7; ++round) {
    size_t calls = 0;
    const auto start = Clock::now();
    auto now = start;
    do {
      for (int k = 0; k < 256; ++k) work();
      calls += 256;
      now = Clock::now();
    } while (now - start < std::chrono::milliseconds(60));
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double msps = static_cast<double>(calls * samplesPerCall) / seconds / 1e6;
    if (msps > best) best = msps;
  }
  return best;
}

struct Figures {
  double encode;
  double decode;
};

// Our encode and decode speed through the exported frame API for a codec
// type (1..4, given as a number: spandsp's header reuses the names).
Figures MeasureOurs(int codecType, const std::vector<int16_t>& speech);

// One line per direction: our figure, the peer's and the ratio.
void PrintComparison(const char* codec, const char* peer, Figures ours, Figures theirs);

void RunG711Comparison(const std::vector<int16_t>& speech);
void RunImaComparison(const std::vector<int16_t>& speech);
void RunAdpcm2Comparison(const std::vector<int16_t>& speech);

}  // namespace zelk::bench
