// encode: audio to .zvf streams or G.711 WAV, AU and headerless files.
#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "audio_reader.h"
#include "audio_writer.h"
#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "files.h"
#include "input_stream.h"
#include "jobs.h"

namespace zv {

namespace {

double Dbfs(int peak) { return 20.0 * std::log10(peak / 32767.0); }

// The type of the outputs: from -t, else from OUT's extension, else zvf.
OutputFormat EncodeFormat(const EncodeOptions& o, const Codec& codec) {
  std::string type = o.type;
  if (o.output != STDIO_NAME && OutputIsFile(o.inputs, o.output) &&
      !(ExtensionOf(o.output).empty() && !type.empty())) {
    const std::string ext = ExtensionOf(o.output);
    const OutputFormat byName = CodeFormatFor(ext, codec, o.output);
    if (!type.empty() && CodeFormatFor(type, codec, o.output).extension != byName.extension) {
      throw UsageFailure(fmt::format("{}: extension does not match --type {}", o.output, type));
    }
    return byName;
  }
  return CodeFormatFor(type.empty() ? "zvf" : type, codec, DisplayName(o.output, true));
}

// call.zvf -> call.ch1.zvf
std::string ChannelName(const std::string& path, int channel) {
  std::filesystem::path p(path);
  const std::string ext = p.extension().string();
  p.replace_extension();
  return p.string() + fmt::format(".ch{}", channel) + ext;
}

struct Output {
  std::unique_ptr<FrameEncoder> encoder;
  std::unique_ptr<CodeWriter> writer;
};

}  // namespace

std::vector<std::string> ReadWarnings(const AudioReader& reader, bool twoBitCodec) {
  std::vector<std::string> warnings;
  for (const std::string& w : reader.Warnings()) warnings.push_back(reader.Name() + ": " + w);
  const ClipStats& s = reader.Stats();
  if (s.clipped > 0) {
    warnings.push_back(
        fmt::format("{}: {} of {} samples ({:.2f}%) clipped to the 16-bit range by {}",
                    reader.Name(), s.clipped, s.samples,
                    100.0 * static_cast<double>(s.clipped) / static_cast<double>(s.samples),
                    reader.ClipCause()));
  }
  if (twoBitCodec && s.peak >= ADPCM2_WRAP_WARNING_PEAK) {
    const double limit = Dbfs(ADPCM2_WRAP_WARNING_PEAK);
    warnings.push_back(fmt::format(
        "{}: peaks at {:.1f} dBFS; two-bit ADPCM can wrap around (flip the sign of loud samples) "
        "above {:.0f} dBFS: lower the level by {:.1f} dB or more",
        reader.Name(), Dbfs(s.peak), limit, Dbfs(s.peak) - limit + 0.1));
  }
  return warnings;
}

int RunEncode(const EncodeOptions& o, bool quiet) {
  const Codec& codec = *FindCodec(o.codec);
  const int spf = SamplesPerFrameForMs(o.frameMs);
  CheckInputs(o.inputs);
  if (o.split && o.output == STDIO_NAME) {
    throw UsageFailure("--split writes a file per channel: -o names a file or directory, not -");
  }
  const OutputFormat format = EncodeFormat(o, codec);
  const std::vector<std::string> outputs = PlanOutputs(o.inputs, o.output, format.extension);
  if (!o.split) RefuseOverwritingInputs(o.inputs, outputs);

  Progress progress(InputWeights(o.inputs), "files", quiet);
  auto job = [&](size_t i, ProgressSink sink) {
    ReadRequest request;
    request.channel = o.channel;
    request.allChannels = o.split;
    request.raw = o.raw;
    AudioReader reader(o.inputs[i], request);
    const auto channels = static_cast<size_t>(reader.Channels());
    std::vector<std::string> names;
    for (size_t c = 0; c < channels; ++c) {
      names.push_back(o.split ? ChannelName(outputs[i], static_cast<int>(c + 1)) : outputs[i]);
    }
    if (o.split) RefuseOverwritingInputs(o.inputs, names);
    std::vector<Output> outs(channels);
    for (size_t c = 0; c < channels; ++c) {
      outs[c].encoder = std::make_unique<FrameEncoder>(codec, spf);
      outs[c].writer = std::make_unique<CodeWriter>(names[c], format, codec, spf, reader.Frames());
    }
    std::vector<int16_t> block(static_cast<size_t>(spf) * channels);
    std::vector<int16_t> one(static_cast<size_t>(spf));
    uint64_t samples = 0;
    for (size_t n; (n = reader.Read(block)) > 0;) {
      for (size_t c = 0; c < channels; ++c) {
        for (size_t k = 0; k < n; ++k) one[k] = block[k * channels + c];
        outs[c].writer->WriteFrame(outs[c].encoder->Encode(std::span(one).first(n)), n);
      }
      samples += n;
      sink.Report(reader.Fraction());
    }
    JobReport report;
    const double seconds = static_cast<double>(samples) / SAMPLE_RATE;
    for (size_t c = 0; c < channels; ++c) {
      outs[c].writer->Finish();
      if (!report.summary.empty()) report.summary += '\n';
      report.summary += fmt::format(
          "{} -> {}: {}, {:.2f} s, {:.1f} kbit/s", reader.Name(), outs[c].writer->Name(),
          codec.label, seconds, static_cast<double>(outs[c].writer->Bytes()) * 8 / seconds / 1000);
    }
    report.warnings = ReadWarnings(reader, codec.type == 4);
    return report;
  };
  const auto outcomes = RunJobs(o.inputs, job, progress);
  return ReportOutcomes(outcomes, progress, quiet, o.output == STDIO_NAME);
}

}  // namespace zv
