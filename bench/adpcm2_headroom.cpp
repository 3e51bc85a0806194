// Where the two-bit ADPCM starts to wrap around on real speech.
//
// The coder forms its reconstruction as the prediction plus the quantised
// difference and keeps it in 16 bits without saturating, so a signal that rides
// close to full scale can overshoot past +32767 (or -32768) and come out with
// the opposite sign. This program plays recordings through the library's
// encoder and decoder at peak levels from -12 dBFS to 0 dBFS and reports the
// lowest level at which a wrap appears in each one:
//
//   zelk_adpcm2_headroom FILE.raw...     (16-bit little-endian mono at 8 kHz)
//
// bench/adpcm2_headroom.sh feeds it Debian's codec2 and pocketsphinx speech.
// A wrap shows as a step of more than half the 16-bit range between two
// decoded samples; the input never steps that far at these levels, and the
// coder's own step is at most 7584.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "raw_recording.h"
#include "zelk_voice_engine.h"

namespace {

constexpr int FRAME = 160;
constexpr double LOWEST_DB = -12.0;
constexpr double STEP_DB = 0.1;

int Peak(const std::vector<int16_t>& x) {
  int peak = 0;
  for (int16_t s : x) peak = std::max(peak, std::abs(int{s}));
  return peak;
}

// Samples scaled so that the peak lands at `db` dBFS (0 dBFS = 32767).
std::vector<int16_t> AtLevel(const std::vector<int16_t>& x, int peak, double db) {
  const double gain = 32767.0 * std::pow(10.0, db / 20.0) / peak;
  std::vector<int16_t> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    out[i] = static_cast<int16_t>(std::lround(std::clamp(x[i] * gain, -32768.0, 32767.0)));
  }
  return out;
}

// Decoded samples that jump by more than half the range from the one before,
// and decoded samples more than half the range away from the input.
struct Wraps {
  long steps = 0;
  long farOff = 0;
};

Wraps CountWraps(const std::vector<int16_t>& x) {
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, ADPCM_2BIT);
  ZELK_VOICE_DecReset(&dec, ADPCM_2BIT);
  Wraps wraps;
  int previous = 0;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  int16_t block[FRAME], decoded[ZELK_VOICE_MAX_SAMPLES];
  for (size_t start = 0; start + FRAME <= x.size(); start += FRAME) {
    std::copy_n(x.begin() + static_cast<std::ptrdiff_t>(start), FRAME, block);
    int16_t got = 0;
    ZELK_VOICE_EncodeFrame(&enc, block, frame, FRAME, ADPCM_2BIT);
    ZELK_VOICE_DecodeFrame(&dec, frame, decoded, ADPCM_2BIT, &got);
    for (int i = 0; i < got; ++i) {
      wraps.steps += std::abs(decoded[i] - previous) > 32768;
      wraps.farOff += std::abs(decoded[i] - x[start + static_cast<size_t>(i)]) > 32768;
      previous = decoded[i];
    }
  }
  return wraps;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zelk_adpcm2_headroom FILE.raw...\n");
    return 2;
  }
  const int levels = static_cast<int>(std::lround(-LOWEST_DB / STEP_DB)) + 1;
  std::vector<Wraps> wrapsAtLevel(static_cast<size_t>(levels));
  double lowest = 1.0;
  std::printf("%-28s %8s %12s %10s\n", "recording", "seconds", "first wrap", "wraps at 0");
  for (int f = 1; f < argc; ++f) {
    const std::vector<int16_t> x = zelk::testing::ReadRawRecording(argv[f]);
    const int peak = Peak(x);
    if (peak == 0) continue;
    double first = 1.0;
    long atFullScale = 0;
    for (int k = 0; k < levels; ++k) {
      const double db = LOWEST_DB + k * STEP_DB;
      const Wraps wraps = CountWraps(AtLevel(x, peak, db));
      wrapsAtLevel[static_cast<size_t>(k)].steps += wraps.steps;
      wrapsAtLevel[static_cast<size_t>(k)].farOff += wraps.farOff;
      if (wraps.steps + wraps.farOff > 0 && first > 0) first = db;
      if (k == levels - 1) atFullScale = wraps.steps;
    }
    std::string name = argv[f];
    name = name.substr(name.find_last_of('/') + 1);
    if (first > 0) {
      std::printf("%-28s %8.1f %12s %10ld\n", name.c_str(), static_cast<double>(x.size()) / 8000.0,
                  "none", 0L);
    } else {
      std::printf("%-28s %8.1f %8.1f dBFS %10ld\n", name.c_str(),
                  static_cast<double>(x.size()) / 8000.0, first, atFullScale);
      lowest = std::min(lowest, first);
    }
  }
  std::printf("\nall recordings: wrap steps, and samples more than half the range off\n");
  std::printf("%9s  %10s  %10s  %10s\n", "peak dBFS", "peak value", "steps", "far off");
  for (int k = 0; k < levels; ++k) {
    const double db = LOWEST_DB + k * STEP_DB;
    const Wraps& w = wrapsAtLevel[static_cast<size_t>(k)];
    if (k % 10 != 0 && w.steps + w.farOff == 0) continue;
    std::printf("%9.1f  %10.0f  %10ld  %10ld\n", db, 32767.0 * std::pow(10.0, db / 20.0), w.steps,
                w.farOff);
  }
  if (lowest <= 0) {
    std::printf("\nlowest peak level with a wrap: %.1f dBFS (%.0f)\n", lowest,
                32767.0 * std::pow(10.0, lowest / 20.0));
  } else {
    std::printf("\nno wrap at any level\n");
  }
  return 0;
}
