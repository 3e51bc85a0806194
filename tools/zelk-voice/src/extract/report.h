// The per-stream table people read and the JSON machines read, printed as
// they are formatted (a capture may hold a hundred thousand streams).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "extractor.h"

namespace zv::extract {

// `dir` is the output directory the file names are in.
void PrintTable(std::FILE* out, const std::string& dir, const StreamReports& reports);
void PrintJson(std::FILE* out, const std::string& dir, const std::vector<std::string>& captures,
               const StreamReports& reports, const std::vector<std::string>& warnings,
               const std::vector<std::string>& errors);

}  // namespace zv::extract
