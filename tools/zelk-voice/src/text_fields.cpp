#include "text_fields.h"

#include <fmt/format.h>

#include <cmath>

namespace zv {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += fmt::format("\\u{:04x}", u);
    } else {
      out += c;
    }
  }
  return out + '"';
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string DbText(double db, int decimals) {
  if (std::isinf(db)) return db > 0 ? "inf" : "-inf";
  return fmt::format("{:.{}f}", db, decimals);
}

}  // namespace zv
