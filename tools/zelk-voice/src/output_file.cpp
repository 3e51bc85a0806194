#include "output_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "failure.h"
#include "input_stream.h"

namespace zv {

namespace {

// Temporary names the signal handler must remove. Slots hold pointers to
// strings owned by live OutputFiles; the handler only reads them and unlinks.
constexpr int CLEANUP_SLOTS = 4096;  // extract keeps one output open per stream in progress
std::array<std::atomic<const char*>, CLEANUP_SLOTS> g_tempPaths{};
mode_t g_fileMode = 0644;

constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

void RemoveTempsAndReraise(int sig) {
  for (auto& slot : g_tempPaths) {
    if (const char* p = slot.load()) unlink(p);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

int ClaimSlot(const char* path) {
  for (size_t i = 0; i < g_tempPaths.size(); ++i) {
    const char* expected = nullptr;
    if (g_tempPaths[i].compare_exchange_strong(expected, path)) return static_cast<int>(i);
  }
  return -1;  // more files open than slots: still removed on errors, not on signals
}

std::string Errno() { return std::strerror(errno); }

// An unnamed file in $TMPDIR (or /tmp) that disappears with its descriptor.
int MakeSpool(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  std::string templ = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  templ += "/zelk-voice-spool.XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  const int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) throw Failure(fmt::format("{}: cannot create a spool file: {}", name, Errno()));
  unlink(buffer.data());
  return fd;
}

}  // namespace

void InstallOutputCleanup() {
  const mode_t mask = umask(0);
  umask(mask);
  g_fileMode = 0666 & ~mask;
  struct sigaction action {};
  action.sa_handler = RemoveTempsAndReraise;
  sigemptyset(&action.sa_mask);
  for (int sig : CLEANUP_SIGNALS) sigaction(sig, &action, nullptr);
  signal(SIGXFSZ, SIG_IGN);
}

OutputFile::OutputFile(std::string path, bool spoolPipe, size_t bufferBytes)
    : path_(std::move(path)), name_(DisplayName(path_, true)), bufferBytes_(bufferBytes) {
  buffer_.reserve(bufferBytes_);
  struct stat st {};
  if (path_ == STDIO_NAME) {
    stdout_ = true;
    fd_ = STDOUT_FILENO;
  } else if (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    // A device or a named pipe (/dev/null, a FIFO) is written in place:
    // renaming a file over it would replace the device itself.
    fd_ = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw Failure(fmt::format("{}: cannot open output: {}", name_, Errno()));
    stdout_ = true;
    ownsFd_ = true;
  }
  if (stdout_) {
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && at >= 0) {
      seekable_ = true;
      base_ = static_cast<uint64_t>(at);
    } else if (spoolPipe) {
      streamFd_ = fd_;
      fd_ = MakeSpool(name_);
      seekable_ = spooled_ = true;
    }
    if (streamFd_ < 0) streamFd_ = fd_;
    return;
  }
  const std::filesystem::path target(path_);
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  // The signal handler knows the name before the file exists: mkostemp fills
  // in the XXXXXX of tempPath_ itself, so a signal at any moment after the
  // file appears (on any thread) removes it.
  tempPath_ = (dir / name).string();
  slot_ = ClaimSlot(tempPath_.c_str());
  fd_ = mkostemp(tempPath_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    const std::string why = Errno();
    if (slot_ >= 0) g_tempPaths[static_cast<size_t>(slot_)].store(nullptr);
    slot_ = -1;
    tempPath_.clear();
    throw Failure(fmt::format("{}: cannot create output: {}", name_, why));
  }
  fchmod(fd_, g_fileMode);
  seekable_ = true;
}

OutputFile::~OutputFile() {
  if ((!stdout_ || spooled_) && fd_ >= 0) close(fd_);
  if (ownsFd_ && streamFd_ >= 0) close(streamFd_);
  if (!tempPath_.empty() && !committed_) unlink(tempPath_.c_str());
  if (slot_ >= 0) g_tempPaths[static_cast<size_t>(slot_)].store(nullptr);
}

void OutputFile::FailWrite(int error) const {
  throw Failure(fmt::format("{}: write failed: {}", name_, std::strerror(error)));
}

void OutputFile::WriteFd(int fd, const uint8_t* data, size_t n) const {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) FailWrite(errno);
    if (w == 0) FailWrite(ENOSPC);
    data += w;
    n -= static_cast<size_t>(w);
  }
}

void OutputFile::Flush() {
  if (buffer_.empty()) return;
  WriteFd(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
}

void OutputFile::Write(std::span<const uint8_t> bytes) {
  written_ += bytes.size();
  if (buffer_.size() + bytes.size() > bufferBytes_) Flush();
  if (bytes.size() >= bufferBytes_) {
    WriteFd(fd_, bytes.data(), bytes.size());
  } else {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  }
}

void OutputFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  if (!seekable_) throw std::logic_error("OutputFile::WriteAt on a pipe");
  Flush();
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = pwrite(fd_, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(base_ + offset + done));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) FailWrite(errno);
    if (w == 0) FailWrite(ENOSPC);
    done += static_cast<size_t>(w);
  }
}

int OutputFile::Fd() {
  if (!seekable_) throw std::logic_error("OutputFile::Fd on a pipe");
  Flush();
  return fd_;
}

void OutputFile::Commit() {
  Flush();
  if (spooled_) {
    // The whole output is in the spool: now it can go out in one pass.
    if (lseek(fd_, 0, SEEK_SET) != 0) FailWrite(errno);
    std::vector<uint8_t> chunk(OUTPUT_BUFFER_BYTES);
    for (;;) {
      const ssize_t got = read(fd_, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        throw Failure(fmt::format("{}: cannot read back the spool file: {}", name_, Errno()));
      }
      if (got == 0) break;
      WriteFd(streamFd_, chunk.data(), static_cast<size_t>(got));
    }
  } else if (stdout_) {
    // A file behind standard output reports late write errors here; a pipe
    // or a terminal has none left to report.
    if (seekable_ && fsync(fd_) != 0 && errno != EINVAL) FailWrite(errno);
  } else {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) FailWrite(errno);
    if (rename(tempPath_.c_str(), path_.c_str()) != 0) {
      throw Failure(fmt::format("{}: cannot create output: {}", name_, Errno()));
    }
  }
  committed_ = true;
}

}  // namespace zv
