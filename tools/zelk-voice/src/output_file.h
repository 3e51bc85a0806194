// An output file that appears under its name only when complete: it is written
// under a temporary name in the same directory and renamed over the target on
// Commit. Dropped without Commit (an error, an exception), or interrupted by
// SIGINT/SIGTERM, the temporary file is removed.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zv {

// Installs the SIGINT/SIGTERM clean-up and remembers the umask; call once at start-up.
void InstallOutputCleanup();

class OutputFile {
 public:
  explicit OutputFile(std::string path);  // throws Failure when the temporary cannot be made
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  void Write(std::span<const uint8_t> bytes);
  void Commit();  // closes and renames; throws Failure

 private:
  std::string path_;
  std::string tempPath_;
  int fd_ = -1;
  int slot_ = -1;
  bool committed_ = false;
};

}  // namespace zv
