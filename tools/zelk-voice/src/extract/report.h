// The per-stream table people read and the JSON machines read.
#pragma once

#include <string>
#include <vector>

#include "extractor.h"

namespace zv::extract {

std::string FormatTable(const std::vector<StreamReport>& reports);
std::string FormatJson(const std::vector<std::string>& captures,
                       const std::vector<StreamReport>& reports,
                       const std::vector<std::string>& warnings,
                       const std::vector<std::string>& errors);

}  // namespace zv::extract
