// Where an output goes: a named file that appears under its name only when
// complete, or standard output ("-").
//
// A named file is written under a temporary name in the same directory and
// renamed over the target on Commit. Dropped without Commit (an error, an
// exception) or interrupted by SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE,
// the temporary file is removed, and an older file of the target's name stays
// as it was.
//
// Standard output, and an existing device or named pipe (/dev/null, a FIFO),
// are written as they go. A format whose header must hold the
// final length asks for `spoolPipe`: when standard output is a pipe and the
// length is not known in advance, the output then collects in an unnamed
// temporary file and is copied out on Commit.
//
// Every write is checked, closing included; a failure throws Failure
// "NAME: write failed: ...".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zv {

// What an OutputFile collects before it writes, unless asked for less.
inline constexpr size_t OUTPUT_BUFFER_BYTES = 1 << 16;

// Installs the clean-up for the signals above, ignores SIGXFSZ (so a file
// size limit is a write error like a full disk), and remembers the umask;
// call once at start-up.
void InstallOutputCleanup();

class OutputFile {
 public:
  // bufferBytes: what Write collects before it writes (extract, with thousands
  // of outputs open at once, asks for less).
  explicit OutputFile(std::string path, bool spoolPipe = false,
                      size_t bufferBytes = OUTPUT_BUFFER_BYTES);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& Path() const { return name_; }  // the name for messages
  bool CanSeek() const { return seekable_; }         // WriteAt works

  void Write(std::span<const uint8_t> bytes);                     // buffered
  void WriteAt(uint64_t offset, std::span<const uint8_t> bytes);  // needs CanSeek()
  uint64_t Size() const { return written_; }

  // The descriptor, for a writer such as libsndfile that does its own
  // seeking: buffered bytes are flushed first, and every later write goes
  // through it. Only for a seekable output.
  int Fd();

  void Commit();  // flushes, closes and renames (or copies the spool out)

  // Records a write error met by someone writing through Fd().
  [[noreturn]] void FailWrite(int error) const;

 private:
  void Flush();
  void WriteFd(int fd, const uint8_t* data, size_t n) const;

  std::string path_;
  std::string name_;
  std::string tempPath_;
  int fd_ = -1;        // where writes go: the temporary, the spool or the stream
  int streamFd_ = -1;  // standard output or a device written in place
  int slot_ = -1;
  bool stdout_ = false;  // written as it goes: standard output or a device
  bool ownsFd_ = false;
  bool spooled_ = false;
  bool seekable_ = false;
  bool committed_ = false;
  uint64_t base_ = 0;  // where the output starts in fd_ (standard output may not be at 0)
  uint64_t written_ = 0;
  size_t bufferBytes_;
  std::vector<uint8_t> buffer_;
};

}  // namespace zv
