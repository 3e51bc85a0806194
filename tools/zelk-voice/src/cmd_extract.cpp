// extract: RTP streams out of network captures, one WAV each, with the
// network's figures per stream.
#include <fmt/format.h>
#include <sys/resource.h>
#include <zelk_voice_rtp.h>

#include <filesystem>

#include "commands.h"
#include "extract/extractor.h"
#include "extract/report.h"
#include "failure.h"
#include "jobs.h"

namespace zv {

namespace {

std::map<int, extract::PayloadKind> ParsePayloadTypes(const std::vector<std::string>& mappings) {
  std::map<int, extract::PayloadKind> out;
  for (const std::string& mapping : mappings) {
    const size_t eq = mapping.find('=');
    int pt = -1;
    try {
      size_t used = 0;
      if (eq != std::string::npos) pt = std::stoi(mapping.substr(0, eq), &used);
      if (used != eq) pt = -1;
    } catch (const std::exception&) {
      pt = -1;
    }
    if (pt < 0 || pt > 127) {
      throw UsageFailure(
          fmt::format("--pt {}: expected N=CODEC with N a payload type 0..127", mapping));
    }
    const auto kind = extract::PayloadKindFromUserName(mapping.substr(eq + 1));
    if (!kind) {
      throw UsageFailure(
          fmt::format("--pt {}: unknown codec '{}' (ulaw/PCMU, alaw/PCMA, ima/DVI4, adpcm2/{})",
                      mapping, mapping.substr(eq + 1), ZELK_RTP_ADPCM2_ENCODING_NAME));
    }
    out[pt] = *kind;
  }
  return out;
}

// Every stream in progress holds its output open.
void AllowManyOpenFiles() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }
}

}  // namespace

int RunExtract(const ExtractOptions& o, bool quiet) {
  extract::ExtractSettings settings;
  settings.outputDir = o.output;
  settings.payloadTypes = ParsePayloadTypes(o.payloadTypes);
  settings.mix = o.mix;
  std::error_code ec;
  if (o.output == "-") {
    throw UsageFailure("-o -: extract writes one file per stream; name a directory");
  }
  if (std::filesystem::exists(o.output, ec) && !std::filesystem::is_directory(o.output, ec)) {
    throw UsageFailure(fmt::format("{}: -o names a file; extract writes a directory", o.output));
  }
  std::filesystem::create_directories(o.output, ec);
  if (ec) throw Failure(fmt::format("{}: cannot create directory: {}", o.output, ec.message()));
  AllowManyOpenFiles();

  extract::Extractor extractor(settings);
  std::vector<std::string> opened;
  std::vector<std::string> unreadable;
  {
    Progress progress(InputWeights(o.inputs), "captures", quiet || o.json);
    for (size_t i = 0; i < o.inputs.size(); ++i) {
      try {
        extract::CaptureFile capture(o.inputs[i]);
        opened.push_back(o.inputs[i]);
        extractor.Read(capture, [&](double f) { progress.Set(i, f); });
      } catch (const Failure& f) {
        unreadable.push_back(f.what());  // not a capture: the others still count
      }
      progress.Set(i, 1.0);
    }
    if (!opened.empty()) extractor.Finish();
    progress.Stop();
  }
  std::vector<std::string> errors = unreadable;
  if (!opened.empty()) {
    const auto more = extractor.Errors();
    errors.insert(errors.end(), more.begin(), more.end());
  }
  const std::vector<std::string> warnings =
      opened.empty() ? std::vector<std::string>{} : extractor.Warnings();
  if (o.json) {
    extract::PrintJson(stdout, o.output, opened, extractor.Reports(), warnings, errors);
  } else if (!quiet && !extractor.Reports().empty()) {
    extract::PrintTable(stdout, o.output, extractor.Reports());
    const extract::StreamReports& reports = extractor.Reports();
    for (size_t i = 0; i < reports.size(); ++i) {
      const extract::StreamReport& r = reports[i];
      if (r.mixNumber && r.key.ssrc == r.mixLeft) {
        fmt::print("call {} <-> {}: {}\n", extract::ToString(r.key.src),
                   extract::ToString(r.key.dst), extract::MixFile(o.output, r));
      }
    }
  }
  if (!quiet) {
    for (const std::string& w : warnings) fmt::print(stderr, "zelk-voice: warning: {}\n", w);
  }
  for (const std::string& e : errors) fmt::print(stderr, "zelk-voice: {}\n", e);
  return errors.empty() ? 0 : EXIT_FILE_FAILURE;
}

}  // namespace zv
