// decode: .zvf streams and A-law/mu-law files back to PCM.
#include <fmt/format.h>

#include "audio_writer.h"
#include "codec.h"
#include "coded_reader.h"
#include "commands.h"
#include "failure.h"
#include "files.h"
#include "input_stream.h"
#include "jobs.h"
#include "resample.h"

namespace zv {

namespace {

struct DecodeTypes {
  const Codec* headerless = nullptr;  // the input's law when it has no header
  std::string output;                 // the output's type, "" when not given
};

// -t names headerless input (alaw, ulaw and their aliases), or the output.
DecodeTypes SortTypes(const std::vector<std::string>& types) {
  DecodeTypes t;
  for (const std::string& type : types) {
    const Codec* codec = FindCodec(type == "al" ? "alaw" : type == "ul" ? "ulaw" : type);
    if (codec != nullptr && IsG711(*codec)) {
      if (t.headerless != nullptr) throw UsageFailure("-t: two input types given");
      t.headerless = codec;
    } else if (codec != nullptr || type == "zvf") {
      throw UsageFailure(fmt::format(
          "-t {}: decode reads .zvf streams and G.711 by themselves; -t names headerless "
          "alaw/ulaw input or the output type",
          type));
    } else {
      if (!t.output.empty()) throw UsageFailure("-t: two output types given");
      t.output = type;
    }
  }
  return t;
}

OutputFormat DecodeFormat(const DecodeOptions& o, const std::string& type) {
  const bool toStdout = o.output == STDIO_NAME;
  if (!toStdout && OutputIsFile(o.inputs, o.output) &&
      !(ExtensionOf(o.output).empty() && !type.empty())) {
    const OutputFormat byName = PcmFormatFor(ExtensionOf(o.output), false, o.output);
    if (!type.empty() && PcmFormatFor(type, false, o.output).extension != byName.extension) {
      throw UsageFailure(fmt::format("{}: extension does not match --type {}", o.output, type));
    }
    return byName;
  }
  return PcmFormatFor(type.empty() ? "wav" : type, toStdout, DisplayName(o.output, true));
}

}  // namespace

int RunDecode(const DecodeOptions& o, bool quiet) {
  CheckInputs(o.inputs);
  const DecodeTypes types = SortTypes(o.types);
  const OutputFormat format = DecodeFormat(o, types.output);
  const std::vector<std::string> outputs = PlanOutputs(o.inputs, o.output, format.extension);
  RefuseOverwritingInputs(o.inputs, outputs);

  Progress progress(InputWeights(o.inputs), "files", quiet);
  auto job = [&](size_t i, ProgressSink sink) {
    CodedReader reader(o.inputs[i], types.headerless);
    const int rate = o.rate > 0 ? o.rate : reader.Rate();
    std::optional<uint64_t> frames;
    if (reader.Samples()) {
      frames = ConvertedFrames(*reader.Samples(), reader.Rate(), rate);
      if (*frames == 0) {
        throw Failure(TooShort(reader.Name(), *reader.Samples(), reader.Rate(), rate));
      }
    }
    RateConverter converter(reader.Rate(), rate, 1);
    PcmWriter writer(outputs[i], format, rate, 1, frames);
    std::vector<int16_t> block(ZELK_VOICE_MAX_SAMPLES);
    std::vector<double> scaled(block.size());
    std::vector<int16_t> pcm;
    for (size_t n; (n = reader.Read(block)) > 0;) {
      for (size_t k = 0; k < n; ++k) scaled[k] = block[k] / 32768.0;
      converter.Push(std::span(scaled).first(n), pcm);
      writer.Write(pcm);
      pcm.clear();
      sink.Report(reader.Fraction());
    }
    converter.Finish(pcm);
    writer.Write(pcm);
    const ClipStats& stats = converter.Stats();
    if (stats.samples == 0) {
      throw Failure(fmt::format("{}: too short: it gives no sample at {} Hz", reader.Name(), rate));
    }
    writer.Finish();
    JobReport report;
    report.summary =
        fmt::format("{} -> {}: {}, {:.2f} s at {} Hz", reader.Name(), writer.Name(),
                    reader.StreamCodec().label, static_cast<double>(stats.samples) / rate, rate);
    for (const std::string& w : reader.Warnings())
      report.warnings.push_back(reader.Name() + ": " + w);
    if (stats.clipped > 0) {
      report.warnings.push_back(fmt::format(
          "{}: {} of {} samples ({:.2f}%) clipped to the 16-bit range by resampling to {} Hz",
          reader.Name(), stats.clipped, stats.samples,
          100.0 * static_cast<double>(stats.clipped) / static_cast<double>(stats.samples), rate));
    }
    return report;
  };
  const auto outcomes = RunJobs(o.inputs, job, progress);
  return ReportOutcomes(outcomes, progress, quiet, o.output == STDIO_NAME);
}

}  // namespace zv
