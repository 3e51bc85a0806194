#include "files.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "failure.h"

namespace zv {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(fmt::format("{}: cannot open: {}", path, std::strerror(errno)));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    throw Failure(fmt::format("{}: cannot read: not a regular file", path));
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const std::string why = std::strerror(errno);
      close(fd);
      throw Failure(fmt::format("{}: read failed: {}", path, why));
    }
    if (n == 0) break;  // the file shrank while we read it
    done += static_cast<size_t>(n);
  }
  close(fd);
  bytes.resize(done);
  if (bytes.empty()) throw Failure(fmt::format("{}: file is empty", path));
  return bytes;
}

std::string ExtensionOf(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool OutputIsFile(const std::vector<std::string>& inputs, const std::string& out) {
  return inputs.size() == 1 && !std::filesystem::is_directory(out);
}

std::vector<std::string> PlanOutputs(const std::vector<std::string>& inputs, const std::string& out,
                                     const std::string& ext) {
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
    const auto stem = std::filesystem::path(in).stem().string();
    std::string name = (std::filesystem::path(out) / (stem + "." + ext)).string();
    if (!seen.insert(name).second) {
      throw UsageFailure(fmt::format("{}: two inputs would both be written to {}", in, name));
    }
    outputs.push_back(std::move(name));
  }
  return outputs;
}

int ReportOutcomes(const std::vector<JobOutcome>& outcomes,
                   const std::vector<std::string>& summaries, bool quiet) {
  int status = 0;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    if (outcomes[i].ok) {
      if (!quiet) fmt::print("{}\n", summaries[i]);
      continue;
    }
    fmt::print(stderr, "zelk-voice: {}\n", outcomes[i].message);
    status = std::max(status, outcomes[i].exitStatus);
  }
  return status;
}

}  // namespace zv
