// roundtrip: every selected codec encodes and decodes one input; a table of
// bit rate, quality and speed, optionally the decoded files and a plot.
#include <fmt/format.h>
#include <unistd.h>

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
#include "metrics.h"
#include "output_file.h"
#include "svg_plot.h"
#include "text_fields.h"

namespace zv {

namespace {

struct Row {
  const Codec* codec = nullptr;
  double kbitPerSecond = 0;
  double compressionRatio = 0;
  double snrDb = 0;
  SegmentalSnr segmental;
  double encodeMsamples = 0;
  double decodeMsamples = 0;
};

// The bundled recording: beside an installed tool, else in the source tree.
double Speed(double secondsPerSample) { return secondsPerSample > 0 ? 1e-6 / secondsPerSample : 0; }

std::string BundledSample() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto installed = exe.parent_path() / ".." / ZELK_VOICE_SAMPLE_INSTALLED;
    if (std::filesystem::exists(installed)) return installed.lexically_normal().string();
  }
  return ZELK_VOICE_SAMPLE_SOURCE;
}

// Codes the signal frame by frame through an encoder and a decoder, measuring
// quality as it goes and writing the decoded signal when asked to.
Row Measure(const Codec& codec, int spf, const std::vector<int16_t>& input, double minSeconds,
            bool keepSegments, const std::string& decodedPath) {
  FrameEncoder encoder(codec, spf);
  FrameDecoder decoder(codec);
  QualityMeter meter(keepSegments);
  std::unique_ptr<PcmWriter> writer;
  if (!decodedPath.empty()) {
    writer = std::make_unique<PcmWriter>(decodedPath, PcmFormatFor("wav", false, decodedPath),
                                         SAMPLE_RATE, 1, input.size());
  }
  std::vector<int16_t> decoded(ZELK_VOICE_MAX_SAMPLES);
  const auto frame = static_cast<size_t>(spf);
  for (size_t start = 0; start < input.size(); start += frame) {
    const auto chunk = std::span(input).subspan(start, std::min(frame, input.size() - start));
    decoder.Decode(encoder.Encode(chunk), decoded, "(memory)");
    meter.Add(chunk, std::span(decoded).first(chunk.size()));
    if (writer) writer->Write(std::span(decoded).first(chunk.size()));
  }
  if (writer) writer->Finish();
  Row row;
  row.codec = &codec;
  const double frameBits = 8.0 * FrameBytes(codec, spf);
  row.kbitPerSecond = frameBits * SAMPLE_RATE / spf / 1000;
  row.compressionRatio = 16.0 * spf / frameBits;
  row.snrDb = meter.SnrDb();
  row.segmental = meter.Segmental();
  const CodecSpeed speed = MeasureCodecSpeed(codec, spf, input, minSeconds);
  row.encodeMsamples = Speed(speed.encodeSecondsPerSample);
  row.decodeMsamples = Speed(speed.decodeSecondsPerSample);
  return row;
}

// A speed figure, or "-" when the input held no whole frame to time.
std::string Figure(double v, const char* format) {
  return v > 0 ? fmt::format(fmt::runtime(format), v) : "-";
}

void PrintTable(const std::vector<Row>& rows) {
  const double realTime = 1e-6 * SAMPLE_RATE;  // Msamples per second of 8 kHz audio
  fmt::print("{:<14} {:>7} {:>6} {:>7} {:>9} {:>10} {:>9} {:>10} {:>9}\n", "codec", "kbit/s",
             "ratio", "SNR dB", "segSNR dB", "enc MS/s", "enc x RT", "dec MS/s", "dec x RT");
  for (const Row& r : rows) {
    fmt::print("{:<14} {:>7.1f} {:>6.2f} {:>7} {:>9} {:>10} {:>9} {:>10} {:>9}\n", r.codec->label,
               r.kbitPerSecond, r.compressionRatio, DbText(r.snrDb), DbText(r.segmental.meanDb),
               Figure(r.encodeMsamples, "{:.1f}"), Figure(r.encodeMsamples / realTime, "{:.0f}"),
               Figure(r.decodeMsamples, "{:.1f}"), Figure(r.decodeMsamples / realTime, "{:.0f}"));
  }
}

void PrintCsv(const std::vector<Row>& rows) {
  const double realTime = 1e-6 * SAMPLE_RATE;
  fmt::print(
      "codec,kbit_per_s,compression_ratio,snr_db,segmental_snr_db,encode_msamples_per_s,"
      "encode_x_real_time,decode_msamples_per_s,decode_x_real_time\n");
  for (const Row& r : rows) {
    fmt::print("{},{:.3f},{:.4f},{},{},{},{},{},{}\n", r.codec->name, r.kbitPerSecond,
               r.compressionRatio, DbText(r.snrDb), DbText(r.segmental.meanDb),
               Figure(r.encodeMsamples, "{:.3f}"), Figure(r.encodeMsamples / realTime, "{:.1f}"),
               Figure(r.decodeMsamples, "{:.3f}"), Figure(r.decodeMsamples / realTime, "{:.1f}"));
  }
}

}  // namespace

int RunRoundtrip(const RoundtripOptions& o, bool quiet) {
  const std::string input = o.input.empty() ? BundledSample() : o.input;
  const int spf = SamplesPerFrameForMs(o.frameMs);
  std::vector<const Codec*> codecs;
  for (const std::string& name : o.codecs) codecs.push_back(FindCodec(name));
  if (codecs.empty()) {
    for (const Codec& c : CODECS) codecs.push_back(&c);
  }
  if (!o.plot.empty() && ExtensionOf(o.plot) != "svg") {
    throw UsageFailure(fmt::format("--plot {}: the plot is an SVG picture; name it .svg", o.plot));
  }
  const std::string stem = StemOf(input);
  std::vector<std::string> decodedPaths(codecs.size());
  std::vector<std::string> outputs;
  if (!o.plot.empty()) outputs.push_back(o.plot);
  if (!o.outputDir.empty()) {
    for (size_t k = 0; k < codecs.size(); ++k) {
      decodedPaths[k] =
          (std::filesystem::path(o.outputDir) / fmt::format("{}.{}.wav", stem, codecs[k]->name))
              .string();
      outputs.push_back(decodedPaths[k]);
    }
  }
  RefuseOverwritingInputs({input}, outputs);
  if (!o.outputDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.outputDir, ec);
    if (!std::filesystem::is_directory(o.outputDir)) {
      throw Failure(fmt::format("{}: cannot create output directory", o.outputDir));
    }
  }

  // The whole job: reading the input counts as much as coding with one codec.
  Progress progress(std::vector<double>(codecs.size() + 1, 1.0), "steps", quiet || o.csv);
  ReadRequest request;
  request.channel = o.channel;
  request.raw = o.raw;
  AudioReader reader(input, request);
  std::vector<int16_t> samples;
  if (reader.Frames()) samples.reserve(static_cast<size_t>(*reader.Frames()));
  {
    std::vector<int16_t> block(1 << 14);
    for (size_t n; (n = reader.Read(block)) > 0;) {
      samples.insert(samples.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
      progress.Set(0, reader.Fraction());
    }
    progress.Set(0, 1.0);
  }
  bool twoBit = false;
  for (const Codec* c : codecs) twoBit |= c->type == 4;
  const std::vector<std::string> warnings = ReadWarnings(reader, twoBit);

  std::vector<Row> rows;
  for (size_t k = 0; k < codecs.size(); ++k) {
    rows.push_back(
        Measure(*codecs[k], spf, samples, o.minSeconds, !o.plot.empty(), decodedPaths[k]));
    progress.Set(k + 1, 1.0);
  }
  if (!o.plot.empty()) {
    std::vector<PlotSeries> series;
    for (const Row& r : rows) series.push_back({r.codec->label, r.segmental.segmentsDb});
    const std::string svg =
        SegmentalSnrSvg(fmt::format("{}: segmental SNR per 20 ms, {} ms frames", stem, o.frameMs),
                        samples, SAMPLE_RATE, series);
    OutputFile out(o.plot);
    out.Write({reinterpret_cast<const uint8_t*>(svg.data()), svg.size()});
    out.Commit();
  }
  progress.Stop();
  if (!quiet) {
    for (const std::string& w : warnings) fmt::print(stderr, "zelk-voice: warning: {}\n", w);
  }

  if (o.csv) {
    PrintCsv(rows);
  } else {
    const std::string shown = o.input.empty()
                                  ? std::filesystem::path(input).filename().string() + " (bundled)"
                                  : DisplayName(input);
    fmt::print("{}: {:.2f} s at {} Hz, {} ms frames, library 0x{:08X}\n", shown,
               static_cast<double>(samples.size()) / SAMPLE_RATE, SAMPLE_RATE, o.frameMs,
               LibraryVersion());
    PrintTable(rows);
  }
  return 0;
}

}  // namespace zv
