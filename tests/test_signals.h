// Seeded test signals shared by the codec, lockstep and stress tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace zelk::testing {

enum class Signal { kSilence, kNoise, kSpeechLike, kSquareFullScale, kClipping, kConstant };

inline const char* SignalName(Signal s) {
  switch (s) {
    case Signal::kSilence:
      return "silence";
    case Signal::kNoise:
      return "noise";
    case Signal::kSpeechLike:
      return "speech-like";
    case Signal::kSquareFullScale:
      return "full-scale square";
    case Signal::kClipping:
      return "clipping";
    case Signal::kConstant:
      return "constant";
  }
  return "?";
}

inline constexpr Signal ALL_SIGNALS[] = {Signal::kSilence,    Signal::kNoise,
                                         Signal::kSpeechLike, Signal::kSquareFullScale,
                                         Signal::kClipping,   Signal::kConstant};

inline int16_t ClipToInt16(double v) {
  return static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

// n samples of the given kind; the same seed always gives the same samples.
inline std::vector<int16_t> MakeSignal(Signal kind, size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int16_t> out(n);
  switch (kind) {
    case Signal::kSilence:
      break;
    case Signal::kNoise: {
      std::uniform_int_distribution<int> d(-32768, 32767);
      for (auto& s : out) s = static_cast<int16_t>(d(rng));
      break;
    }
    case Signal::kSpeechLike: {
      // Pitch pulses through two resonances, with a syllable-rate envelope.
      std::normal_distribution<double> noise(0.0, 1.0);
      const double pitch = 90.0 + (rng() % 150);
      double phase = 0, y1 = 0, y2 = 0, z1 = 0, z2 = 0;
      for (size_t i = 0; i < n; ++i) {
        phase += pitch / 8000.0;
        const double excitation = (phase >= 1.0 ? (phase -= 1.0, 40.0) : 0.0) + 0.3 * noise(rng);
        const double y = excitation + 1.70 * y1 - 0.85 * y2;
        const double z = y + 0.60 * z1 - 0.75 * z2;
        y2 = y1, y1 = y, z2 = z1, z1 = z;
        const double envelope =
            0.55 + 0.45 * std::sin(2 * std::numbers::pi * 4.0 * static_cast<double>(i) / 8000.0);
        out[i] = ClipToInt16(150.0 * (0.6 * y + 0.4 * z) * envelope);
      }
      break;
    }
    case Signal::kSquareFullScale: {
      const size_t half = 2 + rng() % 40;
      for (size_t i = 0; i < n; ++i) out[i] = ((i / half) % 2) ? int16_t{-32768} : int16_t{32767};
      break;
    }
    case Signal::kClipping: {
      const double f = 100.0 + (rng() % 1500);
      for (size_t i = 0; i < n; ++i) {
        out[i] = ClipToInt16(90000.0 *
                             std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / 8000.0));
      }
      break;
    }
    case Signal::kConstant: {
      const auto v = static_cast<int16_t>(static_cast<int>(rng() % 65536) - 32768);
      for (auto& s : out) s = v;
      break;
    }
  }
  return out;
}

}  // namespace zelk::testing
