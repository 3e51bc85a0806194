// Values written into machine-readable results: JSON strings, CSV fields.
#pragma once

#include <string>

namespace zv {

std::string JsonString(const std::string& s);  // quoted and escaped
std::string CsvField(const std::string& s);    // quoted (RFC 4180) when it must be
// A figure in dB: "inf" or "-inf" for the infinite ones (identical signals).
std::string DbText(double db, int decimals = 2);

}  // namespace zv
