#include "report.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace zv::extract {

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items, const char* indent) {
  if (items.empty()) return "[]";
  std::string out = "[\n";
  for (size_t i = 0; i < items.size(); ++i) {
    out += fmt::format("{}  {}{}\n", indent, JsonString(items[i]), i + 1 < items.size() ? "," : "");
  }
  return out + indent + "]";
}

double Seconds(int64_t ns) { return static_cast<double>(ns) / 1e9; }

}  // namespace

std::string FormatTable(const std::vector<StreamReport>& reports) {
  constexpr size_t COLUMNS = 12;
  using Row = std::array<std::string, COLUMNS>;
  std::vector<Row> rows = {{"source", "destination", "SSRC", "codec", "packets", "lost", "missing",
                            "dups", "out of order", "max delta ms", "jitter ms mean/max",
                            "output"}};
  for (const StreamReport& r : reports) {
    rows.push_back({ToString(r.key.src), ToString(r.key.dst), fmt::format("0x{:08X}", r.key.ssrc),
                    r.codec, std::to_string(r.packets), std::to_string(r.lost),
                    std::to_string(r.missing), std::to_string(r.duplicates),
                    std::to_string(r.outOfOrder), fmt::format("{:.3f}", r.maxDeltaMs),
                    fmt::format("{:.3f} / {:.3f}", r.meanJitterMs, r.maxJitterMs),
                    r.file.empty() ? "-" : r.file});
  }
  std::array<size_t, COLUMNS> width{};
  for (const Row& row : rows) {
    for (size_t c = 0; c < COLUMNS; ++c) width[c] = std::max(width[c], row[c].size());
  }
  // Numbers line up on the right, names on the left.
  constexpr std::array<bool, COLUMNS> RIGHT = {false, false, false, false, true, true,
                                               true,  true,  true,  true,  true, false};
  std::string out;
  for (const Row& row : rows) {
    std::string line;
    for (size_t c = 0; c < COLUMNS; ++c) {
      if (c) line += "  ";
      line += RIGHT[c] ? fmt::format("{:>{}}", row[c], width[c])
                       : (c + 1 < COLUMNS ? fmt::format("{:<{}}", row[c], width[c]) : row[c]);
    }
    out += line + "\n";
  }
  return out;
}

std::string FormatJson(const std::vector<std::string>& captures,
                       const std::vector<StreamReport>& reports,
                       const std::vector<std::string>& warnings,
                       const std::vector<std::string>& errors) {
  std::string out = "{\n  \"captures\": " + JsonList(captures, "  ") + ",\n  \"streams\": [";
  for (size_t i = 0; i < reports.size(); ++i) {
    const StreamReport& r = reports[i];
    out += i ? ",\n" : "\n";
    out += fmt::format(
        "    {{\n"
        "      \"source\": {},\n      \"destination\": {},\n"
        "      \"ssrc\": \"0x{:08X}\",\n      \"codec\": {},\n"
        "      \"first_packet\": {{\"capture\": {}, \"number\": {}}},\n"
        "      \"start_time\": {:.9f},\n      \"end_time\": {:.9f},\n"
        "      \"packets\": {},\n      \"lost\": {},\n      \"missing\": {},\n"
        "      \"duplicates\": {},\n"
        "      \"out_of_order\": {},\n      \"late\": {},\n"
        "      \"max_delta_ms\": {:.3f},\n      \"mean_jitter_ms\": {:.3f},\n"
        "      \"max_jitter_ms\": {:.3f},\n      \"jitter_ms\": {:.3f},\n"
        "      \"samples\": {},\n      \"concealed_samples\": {},\n      \"silence_samples\": {},\n"
        "      \"audio_start_time\": {:.9f},\n"
        "      \"file\": {},\n      \"mix_file\": {}\n    }}",
        JsonString(ToString(r.key.src)), JsonString(ToString(r.key.dst)), r.key.ssrc,
        JsonString(r.codec), JsonString(captures.at(static_cast<size_t>(r.fileIndex))),
        r.firstPacket, Seconds(r.firstNs), Seconds(r.lastNs), r.packets, r.lost, r.missing,
        r.duplicates, r.outOfOrder, r.late, r.maxDeltaMs, r.meanJitterMs, r.maxJitterMs, r.jitterMs,
        r.samples, r.concealed, r.silence, Seconds(r.startNs),
        r.file.empty() ? "null" : JsonString(r.file),
        r.mixFile.empty() ? "null" : JsonString(r.mixFile));
  }
  out += reports.empty() ? "],\n" : "\n  ],\n";
  out += "  \"warnings\": " + JsonList(warnings, "  ") + ",\n";
  out += "  \"errors\": " + JsonList(errors, "  ") + "\n}\n";
  return out;
}

}  // namespace zv::extract
