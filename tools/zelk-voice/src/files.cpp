#include "files.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <utility>

#include "failure.h"
#include "input_stream.h"

namespace zv {

std::string ExtensionOf(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool OutputIsFile(const std::vector<std::string>& inputs, const std::string& out) {
  if (out == STDIO_NAME) return true;
  return inputs.size() == 1 && !out.ends_with('/') && !std::filesystem::is_directory(out);
}

std::string StemOf(const std::string& input) {
  return input == STDIO_NAME ? "stdin" : std::filesystem::path(input).stem().string();
}

std::vector<std::string> PlanOutputs(const std::vector<std::string>& inputs, const std::string& out,
                                     const std::string& ext) {
  if (out == STDIO_NAME && inputs.size() > 1) {
    throw UsageFailure("-o -: standard output takes one input, not " +
                       std::to_string(inputs.size()));
  }
  if (OutputIsFile(inputs, out)) return {out};
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (!std::filesystem::is_directory(out)) {
    throw Failure(fmt::format("{}: cannot create output directory: {}", out,
                              ec ? ec.message() : "not a directory"));
  }
  std::vector<std::string> outputs;
  std::set<std::string> seen;
  for (const std::string& in : inputs) {
    std::string name = (std::filesystem::path(out) / (StemOf(in) + "." + ext)).string();
    if (!seen.insert(name).second) {
      throw UsageFailure(
          fmt::format("{}: two inputs would both be written to {}", DisplayName(in), name));
    }
    outputs.push_back(std::move(name));
  }
  return outputs;
}

void RefuseOverwritingInputs(const std::vector<std::string>& inputs,
                             const std::vector<std::string>& outputs) {
  std::vector<std::pair<std::pair<dev_t, ino_t>, std::string>> files;
  for (const std::string& in : inputs) {
    struct stat st {};
    if (in != STDIO_NAME && stat(in.c_str(), &st) == 0)
      files.push_back({{st.st_dev, st.st_ino}, in});
  }
  for (const std::string& out : outputs) {
    struct stat st {};
    if (out == STDIO_NAME || stat(out.c_str(), &st) != 0) continue;
    for (const auto& [id, in] : files) {
      if (id == std::pair{st.st_dev, st.st_ino}) {
        throw UsageFailure(fmt::format(
            "{}: this output is the input {}; refusing to write over it (name another output)", out,
            in));
      }
    }
  }
}

void CheckInputs(const std::vector<std::string>& inputs) {
  if (std::count(inputs.begin(), inputs.end(), STDIO_NAME) > 1) {
    throw UsageFailure("-: standard input can be read only once");
  }
}

}  // namespace zv
