// roundtrip: every selected codec encodes and decodes one input; a table of
// bit rate, quality and speed, optionally the decoded files and a plot.
#include <fmt/format.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "files.h"
#include "metrics.h"
#include "output_file.h"
#include "svg_plot.h"

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
std::string BundledSample() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto installed = exe.parent_path() / ".." / ZELK_VOICE_SAMPLE_INSTALLED;
    if (std::filesystem::exists(installed)) return installed.lexically_normal().string();
  }
  return ZELK_VOICE_SAMPLE_SOURCE;
}

Row Measure(const Codec& codec, int spf, const std::vector<int16_t>& input, double minSeconds,
            std::vector<int16_t>& decoded) {
  const std::vector<uint8_t> frames = EncodeFrames(codec, spf, input);
  decoded = DecodeFrames(codec, spf, frames, input.size(), "(memory)", 0);
  Row row;
  row.codec = &codec;
  const double frameBits = 8.0 * FrameBytes(codec, spf);
  row.kbitPerSecond = frameBits * SAMPLE_RATE / spf / 1000;
  row.compressionRatio = 16.0 * spf / frameBits;
  row.snrDb = SnrDb(input, decoded);
  row.segmental = SegmentalSnrDb(input, decoded);
  const CodecSpeed speed = MeasureCodecSpeed(codec, spf, input, minSeconds);
  row.encodeMsamples = 1e-6 / speed.encodeSecondsPerSample;
  row.decodeMsamples = 1e-6 / speed.decodeSecondsPerSample;
  return row;
}

std::string Db(double v) {
  return std::isinf(v) ? (v > 0 ? "inf" : "-inf") : fmt::format("{:.2f}", v);
}

void PrintTable(const std::vector<Row>& rows) {
  const double realTime = 1e-6 * SAMPLE_RATE;  // Msamples per second of 8 kHz audio
  fmt::print("{:<14} {:>7} {:>6} {:>7} {:>9} {:>10} {:>9} {:>10} {:>9}\n", "codec", "kbit/s",
             "ratio", "SNR dB", "segSNR dB", "enc MS/s", "enc x RT", "dec MS/s", "dec x RT");
  for (const Row& r : rows) {
    fmt::print("{:<14} {:>7.1f} {:>6.2f} {:>7} {:>9} {:>10.1f} {:>9.0f} {:>10.1f} {:>9.0f}\n",
               r.codec->label, r.kbitPerSecond, r.compressionRatio, Db(r.snrDb),
               Db(r.segmental.meanDb), r.encodeMsamples, r.encodeMsamples / realTime,
               r.decodeMsamples, r.decodeMsamples / realTime);
  }
}

void PrintCsv(const std::vector<Row>& rows) {
  const double realTime = 1e-6 * SAMPLE_RATE;
  fmt::print(
      "codec,kbit_per_s,compression_ratio,snr_db,segmental_snr_db,encode_msamples_per_s,"
      "encode_x_real_time,decode_msamples_per_s,decode_x_real_time\n");
  for (const Row& r : rows) {
    fmt::print("{},{:.3f},{:.4f},{},{},{:.3f},{:.1f},{:.3f},{:.1f}\n", r.codec->name,
               r.kbitPerSecond, r.compressionRatio, Db(r.snrDb), Db(r.segmental.meanDb),
               r.encodeMsamples, r.encodeMsamples / realTime, r.decodeMsamples,
               r.decodeMsamples / realTime);
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
  const std::vector<int16_t> samples = ReadMonoPcm(input, SAMPLE_RATE, o.raw);
  const std::string stem = std::filesystem::path(input).stem().string();
  if (!o.outputDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.outputDir, ec);
    if (!std::filesystem::is_directory(o.outputDir)) {
      throw Failure(fmt::format("{}: cannot create output directory", o.outputDir));
    }
  }

  std::vector<Row> rows;
  {
    Progress progress(codecs.size(), "codecs", quiet || o.csv);
    for (size_t k = 0; k < codecs.size(); ++k) {
      std::vector<int16_t> decoded;
      rows.push_back(Measure(*codecs[k], spf, samples, o.minSeconds, decoded));
      if (!o.outputDir.empty()) {
        const auto path =
            std::filesystem::path(o.outputDir) / fmt::format("{}.{}.wav", stem, codecs[k]->name);
        WritePcm(path.string(), decoded, SAMPLE_RATE, MajorFormatForPath(path.string()));
      }
      progress.Set(k, 1.0);
    }
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

  if (o.csv) {
    PrintCsv(rows);
  } else {
    const std::string shown =
        o.input.empty() ? std::filesystem::path(input).filename().string() + " (bundled)" : input;
    fmt::print("{}: {:.2f} s at {} Hz, {} ms frames, library 0x{:08X}\n", shown,
               static_cast<double>(samples.size()) / SAMPLE_RATE, SAMPLE_RATE, o.frameMs,
               LibraryVersion());
    PrintTable(rows);
  }
  return 0;
}

}  // namespace zv
