#include "output_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include "failure.h"

namespace zv {

namespace {

// Temporary names the signal handler must remove. Slots hold pointers to
// strings owned by live OutputFiles; the handler only reads them and unlinks.
constexpr int CLEANUP_SLOTS = 256;
std::array<std::atomic<const char*>, CLEANUP_SLOTS> g_tempPaths{};
mode_t g_fileMode = 0644;

void RemoveTempsAndReraise(int sig) {
  for (auto& slot : g_tempPaths) {
    if (const char* p = slot.load()) unlink(p);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

int ClaimSlot(const char* path) {
  for (size_t i = 0; i < g_tempPaths.size(); ++i) {
    const char* expected = nullptr;
    if (g_tempPaths[i].compare_exchange_strong(expected, path)) return static_cast<int>(i);
  }
  return -1;  // more files open than slots: still removed on errors, not on signals
}

std::string Errno() { return std::strerror(errno); }

}  // namespace

void InstallOutputCleanup() {
  const mode_t mask = umask(0);
  umask(mask);
  g_fileMode = 0666 & ~mask;
  std::signal(SIGINT, RemoveTempsAndReraise);
  std::signal(SIGTERM, RemoveTempsAndReraise);
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  const std::filesystem::path target(path_);
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  const std::string templ = (dir / name).string();
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  fd_ = mkstemp(buffer.data());
  if (fd_ < 0) throw Failure(fmt::format("{}: cannot create output: {}", path_, Errno()));
  tempPath_ = buffer.data();
  slot_ = ClaimSlot(tempPath_.c_str());
  fchmod(fd_, g_fileMode);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_) unlink(tempPath_.c_str());
  if (slot_ >= 0) g_tempPaths[static_cast<size_t>(slot_)].store(nullptr);
}

void OutputFile::Write(std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Failure(fmt::format("{}: write failed: {}", path_, Errno()));
    done += static_cast<size_t>(n);
  }
}

void OutputFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) throw Failure(fmt::format("{}: write failed: {}", path_, Errno()));
  if (rename(tempPath_.c_str(), path_.c_str()) != 0) {
    throw Failure(fmt::format("{}: cannot create output: {}", path_, Errno()));
  }
  committed_ = true;
}

}  // namespace zv
