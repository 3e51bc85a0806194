// An input opened for reading: a named file, or standard input for "-".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace zv {

inline constexpr const char* STDIO_NAME = "-";

// The name messages use for an input or output path ("standard input" for "-").
std::string DisplayName(const std::string& path, bool output = false);

class InputStream {
 public:
  // Opens `path` ("-": standard input). Throws Failure "NAME: ..." when it
  // cannot be opened, is a directory, or is an empty regular file.
  explicit InputStream(const std::string& path);
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  const std::string& Name() const { return name_; }
  bool IsRegular() const { return regular_; }
  std::optional<uint64_t> Size() const;  // known for regular files
  int Fd() const { return fd_; }

  // Up to bytes.size() bytes, fewer only at the end of the input. Throws on a
  // read error.
  size_t Read(std::span<uint8_t> bytes);
  uint64_t Position() const { return position_; }  // bytes handed out by Read

  // Looks at the first `n` bytes without consuming them for later readers.
  std::span<const uint8_t> Peek(size_t n);

  // A descriptor that reads the input from its first byte, for libsndfile.
  // Bytes already peeked at on a pipe are fed to it again through a pipe of our
  // own; CheckFeed() then reports any read error that feeding met.
  int DescriptorFromStart();
  void CheckFeed() const;

 private:
  size_t ReadFd(uint8_t* dst, size_t n);
  void StopFeed();

  std::string name_;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool regular_ = false;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  std::vector<uint8_t> peeked_;  // read from fd_ but not yet handed out
  size_t peekedUsed_ = 0;
  int feedFd_ = -1;    // read end of the feeding pipe
  int stopRead_ = -1;  // tells the feeder to stop
  int stopWrite_ = -1;
  std::thread feeder_;
  std::atomic<int> feedErrno_{0};
};

}  // namespace zv
