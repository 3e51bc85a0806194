#include "report.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "text_fields.h"

namespace zv::extract {

namespace {

std::string JsonList(const std::vector<std::string>& items, const char* indent) {
  if (items.empty()) return "[]";
  std::string out = "[\n";
  for (size_t i = 0; i < items.size(); ++i) {
    out += fmt::format("{}  {}{}\n", indent, JsonString(items[i]), i + 1 < items.size() ? "," : "");
  }
  return out + indent + "]";
}

double Seconds(int64_t ns) { return static_cast<double>(ns) / 1e9; }

constexpr size_t COLUMNS = 12;
using Row = std::array<std::string, COLUMNS>;

const Row HEADINGS = {"source",
                      "destination",
                      "SSRC",
                      "codec",
                      "packets",
                      "lost",
                      "missing",
                      "dups",
                      "out of order",
                      "max delta ms",
                      "jitter ms mean/max",
                      "output"};

Row TableRow(const std::string& dir, const StreamReport& r) {
  return {ToString(r.key.src),
          ToString(r.key.dst),
          fmt::format("0x{:08X}", r.key.ssrc),
          r.codec,
          std::to_string(r.packets),
          std::to_string(r.lost),
          std::to_string(r.missing),
          std::to_string(r.duplicates),
          std::to_string(r.outOfOrder),
          fmt::format("{:.3f}", r.maxDeltaMs),
          fmt::format("{:.3f} / {:.3f}", r.meanJitterMs, r.maxJitterMs),
          r.fileNumber ? StreamFile(dir, r) : "-"};
}

void PrintRow(std::FILE* out, const Row& row, const std::array<size_t, COLUMNS>& width) {
  // Numbers line up on the right, names on the left.
  constexpr std::array<bool, COLUMNS> RIGHT = {false, false, false, false, true, true,
                                               true,  true,  true,  true,  true, false};
  std::string line;
  for (size_t c = 0; c < COLUMNS; ++c) {
    if (c) line += "  ";
    line += RIGHT[c] ? fmt::format("{:>{}}", row[c], width[c])
                     : (c + 1 < COLUMNS ? fmt::format("{:<{}}", row[c], width[c]) : row[c]);
  }
  fmt::print(out, "{}\n", line);
}

}  // namespace

void PrintTable(std::FILE* out, const std::string& dir, const StreamReports& reports) {
  // Two passes, the widths and then the rows: only one row is held at a time.
  std::array<size_t, COLUMNS> width{};
  auto widen = [&](const Row& row) {
    for (size_t c = 0; c < COLUMNS; ++c) width[c] = std::max(width[c], row[c].size());
  };
  widen(HEADINGS);
  for (size_t i = 0; i < reports.size(); ++i) widen(TableRow(dir, reports[i]));
  PrintRow(out, HEADINGS, width);
  for (size_t i = 0; i < reports.size(); ++i) PrintRow(out, TableRow(dir, reports[i]), width);
}

void PrintJson(std::FILE* out, const std::string& dir, const std::vector<std::string>& captures,
               const StreamReports& reports, const std::vector<std::string>& warnings,
               const std::vector<std::string>& errors) {
  fmt::print(out, "{{\n  \"captures\": {},\n  \"streams\": [", JsonList(captures, "  "));
  for (size_t i = 0; i < reports.size(); ++i) {
    const StreamReport& r = reports[i];
    fmt::print(out, "{}", i ? ",\n" : "\n");
    fmt::print(
        out,
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
        r.fileNumber ? JsonString(StreamFile(dir, r)) : "null",
        r.mixNumber ? JsonString(MixFile(dir, r)) : "null");
  }
  fmt::print(out, "{}", reports.empty() ? "],\n" : "\n  ],\n");
  fmt::print(out, "  \"warnings\": {},\n", JsonList(warnings, "  "));
  fmt::print(out, "  \"errors\": {}\n}}\n", JsonList(errors, "  "));
}

}  // namespace zv::extract
