#include "input_stream.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "failure.h"

namespace zv {

namespace {

constexpr size_t FEED_CHUNK = 1 << 16;

bool WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

std::string DisplayName(const std::string& path, bool output) {
  if (path != STDIO_NAME) return path;
  return output ? "standard output" : "standard input";
}

InputStream::InputStream(const std::string& path) : name_(DisplayName(path)) {
  if (path == STDIO_NAME) {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw Failure(fmt::format("{}: cannot open: {}", name_, std::strerror(errno)));
    ownsFd_ = true;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0) {
    const std::string why = std::strerror(errno);
    if (ownsFd_) close(fd_);
    throw Failure(fmt::format("{}: cannot read: {}", name_, why));
  }
  if (S_ISDIR(st.st_mode)) {
    if (ownsFd_) close(fd_);
    throw Failure(fmt::format("{}: cannot read: is a directory", name_));
  }
  regular_ = S_ISREG(st.st_mode);
  size_ = static_cast<uint64_t>(st.st_size);
  if (regular_ && size_ == 0) {
    if (ownsFd_) close(fd_);
    throw Failure(fmt::format("{}: file is empty", name_));
  }
}

InputStream::~InputStream() {
  StopFeed();
  if (ownsFd_) close(fd_);
}

std::optional<uint64_t> InputStream::Size() const {
  if (!regular_) return std::nullopt;
  return size_;
}

size_t InputStream::ReadFd(uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t got = read(fd_, dst + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      throw Failure(fmt::format("{}: read failed at byte {}: {}", name_, position_ + done,
                                std::strerror(errno)));
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t InputStream::Read(std::span<uint8_t> bytes) {
  size_t done = 0;
  if (peekedUsed_ < peeked_.size()) {
    done = std::min(bytes.size(), peeked_.size() - peekedUsed_);
    std::copy_n(peeked_.begin() + static_cast<std::ptrdiff_t>(peekedUsed_), done, bytes.begin());
    peekedUsed_ += done;
  }
  if (done < bytes.size()) done += ReadFd(bytes.data() + done, bytes.size() - done);
  position_ += done;
  return done;
}

std::span<const uint8_t> InputStream::Peek(size_t n) {
  if (position_ > 0) throw std::logic_error("InputStream::Peek after Read");
  if (peeked_.size() < n) {
    const size_t have = peeked_.size();
    peeked_.resize(n);
    peeked_.resize(have + ReadFd(peeked_.data() + have, n - have));
  }
  return {peeked_.data(), std::min(n, peeked_.size())};
}

int InputStream::DescriptorFromStart() {
  if (position_ > 0 || feedFd_ >= 0) throw std::logic_error("InputStream: input already read");
  if (peeked_.empty()) return fd_;
  if (regular_) {
    if (lseek(fd_, 0, SEEK_SET) != 0) {
      throw Failure(fmt::format("{}: cannot seek: {}", name_, std::strerror(errno)));
    }
    peeked_.clear();
    return fd_;
  }
  // A pipe cannot go back: a thread writes the bytes we looked at, then the
  // rest of the input, into a pipe of our own that the reader takes instead.
  int fds[2];
  int stop[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    throw Failure(fmt::format("{}: cannot read: {}", name_, std::strerror(errno)));
  }
  if (pipe2(stop, O_CLOEXEC) != 0) {
    close(fds[0]);
    close(fds[1]);
    throw Failure(fmt::format("{}: cannot read: {}", name_, std::strerror(errno)));
  }
  feedFd_ = fds[0];
  const int writeEnd = fds[1];
  stopRead_ = stop[0];
  stopWrite_ = stop[1];
  feeder_ = std::thread([this, writeEnd] {
    // A reader that gives up early closes its end; the write then fails with
    // EPIPE here instead of raising SIGPIPE for the whole process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    std::vector<uint8_t> buffer(FEED_CHUNK);
    bool open = WriteAll(writeEnd, peeked_.data(), peeked_.size());
    while (open) {
      pollfd watch[2] = {{fd_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
      if (poll(watch, 2, -1) < 0) {
        if (errno == EINTR) continue;
        feedErrno_ = errno;
        break;
      }
      if (watch[1].revents != 0) break;
      const ssize_t got = read(fd_, buffer.data(), buffer.size());
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got < 0) feedErrno_ = errno;
      if (got <= 0) break;
      open = WriteAll(writeEnd, buffer.data(), static_cast<size_t>(got));
    }
    close(writeEnd);
  });
  return feedFd_;
}

void InputStream::CheckFeed() const {
  if (const int e = feedErrno_.load()) {
    throw Failure(fmt::format("{}: read failed: {}", name_, std::strerror(e)));
  }
}

void InputStream::StopFeed() {
  if (!feeder_.joinable()) return;
  const uint8_t one = 1;
  WriteAll(stopWrite_, &one, 1);
  close(feedFd_);  // unblocks a feeder waiting to write
  feeder_.join();
  close(stopRead_);
  close(stopWrite_);
}

}  // namespace zv
