// encode: audio files to .zvf streams or G.711 WAVs.
#include <fmt/format.h>

#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "files.h"
#include "output_file.h"
#include "zvf.h"

namespace zv {

namespace {

// "zvf" or "wav": from -t, else from OUT's extension, else zvf for a directory.
std::string OutputType(const EncodeOptions& o, const Codec& codec) {
  std::string type = o.type;
  if (OutputIsFile(o.inputs, o.output)) {
    const std::string ext = ExtensionOf(o.output);
    if (ext != "zvf" && ext != "wav") {
      throw UsageFailure(
          fmt::format("{}: output must end in .zvf or .wav (or be a directory)", o.output));
    }
    if (!type.empty() && type != ext) {
      throw UsageFailure(fmt::format("{}: extension does not match --type {}", o.output, type));
    }
    type = ext;
  }
  if (type.empty()) type = "zvf";
  if (type == "wav" && !IsG711(codec)) {
    throw UsageFailure(
        fmt::format("{}: only A-law and \u00b5-law have a WAV form; write a .zvf", codec.label));
  }
  return type;
}

void WriteZvf(const std::string& path, const Codec& codec, int samplesPerFrame, size_t totalSamples,
              const std::vector<uint8_t>& frames) {
  ZvfHeader header;
  header.codecType = static_cast<uint16_t>(codec.type);
  header.samplesPerFrame = static_cast<uint16_t>(samplesPerFrame);
  header.totalSamples = totalSamples;
  OutputFile out(path);
  out.Write(SerializeZvfHeader(header));
  out.Write(frames);
  out.Commit();
}

}  // namespace

int RunEncode(const EncodeOptions& o, bool quiet) {
  const Codec& codec = *FindCodec(o.codec);
  const int spf = SamplesPerFrameForMs(o.frameMs);
  const std::string type = OutputType(o, codec);
  const std::vector<std::string> outputs = PlanOutputs(o.inputs, o.output, type);
  std::vector<std::string> summaries(o.inputs.size());

  Progress progress(o.inputs.size(), "files", quiet);
  auto job = [&](size_t i, ProgressSink sink) {
    const std::vector<int16_t> samples = ReadMonoPcm(o.inputs[i], SAMPLE_RATE, o.raw, sink);
    sink.Report(0.3);
    const std::vector<uint8_t> frames = EncodeFrames(codec, spf, samples, sink);
    double bytes = 0;
    if (type == "zvf") {
      WriteZvf(outputs[i], codec, spf, samples.size(), frames);
      bytes = static_cast<double>(ZVF_HEADER_BYTES + frames.size());
    } else {
      const auto codes = G711CodesFromFrames(frames, spf, samples.size());
      WriteG711Wav(outputs[i], codec.type, codes, SAMPLE_RATE);
      bytes = static_cast<double>(codes.size());
    }
    const double seconds = static_cast<double>(samples.size()) / SAMPLE_RATE;
    summaries[i] = fmt::format("{} -> {}: {}, {:.2f} s, {:.1f} kbit/s", o.inputs[i], outputs[i],
                               codec.label, seconds, bytes * 8 / seconds / 1000);
  };
  const auto outcomes = RunJobs(o.inputs, job, progress);
  return ReportOutcomes(outcomes, summaries, quiet);
}

}  // namespace zv
