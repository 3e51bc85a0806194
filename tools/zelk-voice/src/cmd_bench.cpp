// bench: the library's speed per codec and frame size on one core.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "codec.h"
#include "commands.h"

namespace zv {

namespace {

// Eight seconds of a voiced, speech-like signal: pitch pulses through one
// resonance under a syllable-rate envelope, with a little noise. Seeded, so
// every run codes the same samples.
std::vector<int16_t> BenchSignal() {
  std::vector<int16_t> out(8 * SAMPLE_RATE);
  std::mt19937 rng(12345);
  std::normal_distribution<double> noise(0.0, 1.0);
  double phase = 0, y1 = 0, y2 = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    phase += 130.0 / SAMPLE_RATE;
    const double pulse = phase >= 1.0 ? (phase -= 1.0, 60.0) : 0.0;
    const double y = pulse + 0.5 * noise(rng) + 1.6 * y1 - 0.8 * y2;
    y2 = y1;
    y1 = y;
    const double envelope =
        0.5 + 0.5 * std::sin(2 * M_PI * 3.0 * static_cast<double>(i) / SAMPLE_RATE);
    out[i] = static_cast<int16_t>(std::lround(std::clamp(300.0 * y * envelope, -32768.0, 32767.0)));
  }
  return out;
}

}  // namespace

int RunBench(const BenchOptions& o, bool quiet) {
  std::vector<const Codec*> codecs;
  for (const std::string& name : o.codecs) codecs.push_back(FindCodec(name));
  if (codecs.empty()) {
    for (const Codec& c : CODECS) codecs.push_back(&c);
  }
  std::vector<int> frameMs = o.frameMs;
  if (frameMs.empty()) frameMs = {10, 20, 30, 40, 50, 60};
  const std::vector<int16_t> signal = BenchSignal();

  if (o.csv) {
    fmt::print("codec,frame_ms,encode_msamples_per_s,decode_msamples_per_s,channels_per_core\n");
  } else {
    if (!quiet) {
      fmt::print("library 0x{:08X}, one core, at least {:g} s per figure\n", LibraryVersion(),
                 o.minSeconds);
    }
    fmt::print("{:<14} {:>6} {:>10} {:>10} {:>16}\n", "codec", "frame", "enc MS/s", "dec MS/s",
               "channels/core");
  }
  for (const Codec* codec : codecs) {
    for (int ms : frameMs) {
      const CodecSpeed s =
          MeasureCodecSpeed(*codec, SamplesPerFrameForMs(ms), signal, o.minSeconds);
      // One channel is an encoder and a decoder each running at 8000 samples/s.
      const double channels =
          1.0 / ((s.encodeSecondsPerSample + s.decodeSecondsPerSample) * SAMPLE_RATE);
      const double enc = 1e-6 / s.encodeSecondsPerSample;
      const double dec = 1e-6 / s.decodeSecondsPerSample;
      if (o.csv) {
        fmt::print("{},{},{:.3f},{:.3f},{:.0f}\n", codec->name, ms, enc, dec, channels);
      } else {
        fmt::print("{:<14} {:>4}ms {:>10.1f} {:>10.1f} {:>16.0f}\n", codec->label, ms, enc, dec,
                   channels);
      }
    }
  }
  return 0;
}

}  // namespace zv
