// decode: .zvf streams and A-law/mu-law files back to PCM.
#include <fmt/format.h>
#include <zelk_voice_engine.h>

#include <algorithm>
#include <cmath>

#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "files.h"
#include "zvf.h"

namespace zv {

namespace {

struct Decoded {
  std::vector<int16_t> samples;
  int rate = SAMPLE_RATE;
  const Codec* codec = nullptr;
};

Decoded DecodeStream(const std::vector<uint8_t>& bytes, const std::string& path,
                     ProgressSink sink) {
  const ZvfStream s = ParseZvf(bytes, path);
  Decoded d;
  d.codec = s.codec;
  d.samples =
      DecodeFrames(*s.codec, s.header.samplesPerFrame, s.frames,
                   static_cast<size_t>(s.header.totalSamples), path, ZVF_HEADER_BYTES, sink);
  return d;
}

Decoded DecodeG711File(const std::string& path, ProgressSink sink) {
  const G711File g = ReadG711File(path);
  Decoded d;
  d.codec = FindCodecType(g.codecType);
  d.rate = g.rate;
  const std::vector<uint8_t> frames = G711FramesFromCodes(g.codes, ZELK_VOICE_MAX_SAMPLES);
  d.samples = DecodeFrames(*d.codec, ZELK_VOICE_MAX_SAMPLES, frames, g.codes.size(), path, 0, sink);
  return d;
}

std::vector<int16_t> ToRate(const std::vector<int16_t>& samples, int from, int to) {
  if (from == to) return samples;
  const std::vector<double> in(samples.begin(), samples.end());
  const std::vector<double> out = Resample(in, from, to);
  std::vector<int16_t> result(out.size());
  std::transform(out.begin(), out.end(), result.begin(), [](double v) {
    return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
  });
  return result;
}

}  // namespace

int RunDecode(const DecodeOptions& o, bool quiet) {
  const std::string type = o.type.empty() ? "wav" : o.type;
  const std::vector<std::string> outputs = PlanOutputs(o.inputs, o.output, type);
  std::vector<int> formats;
  for (const std::string& out : outputs) {
    const int format = MajorFormatForPath(out);
    if (format == 0) {
      throw UsageFailure(fmt::format("{}: no audio format for this extension", out));
    }
    formats.push_back(format);
  }
  std::vector<std::string> summaries(o.inputs.size());

  Progress progress(o.inputs.size(), "files", quiet);
  auto job = [&](size_t i, ProgressSink sink) {
    const std::string& in = o.inputs[i];
    // A stream is recognised by its magic; anything else must be an A-law/mu-law file.
    const std::vector<uint8_t> bytes = ReadFileBytes(in);
    const bool stream = ExtensionOf(in) == "zvf" || HasZvfMagic(bytes);
    const Decoded d = stream ? DecodeStream(bytes, in, sink) : DecodeG711File(in, sink);
    const int rate = o.rate > 0 ? o.rate : d.rate;
    const std::vector<int16_t> pcm = ToRate(d.samples, d.rate, rate);
    WritePcm(outputs[i], pcm, rate, formats[i]);
    summaries[i] = fmt::format("{} -> {}: {}, {:.2f} s at {} Hz", in, outputs[i], d.codec->label,
                               static_cast<double>(pcm.size()) / rate, rate);
  };
  const auto outcomes = RunJobs(o.inputs, job, progress);
  return ReportOutcomes(outcomes, summaries, quiet);
}

}  // namespace zv
