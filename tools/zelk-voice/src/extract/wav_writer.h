// A 16-bit PCM WAV at 8 kHz written as the samples come, under a temporary
// name until Commit: a run that fails or is interrupted leaves no file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zv {
class OutputFile;
}

namespace zv::extract {

class WavWriter {
 public:
  WavWriter(const std::string& path, int channels, int rate = 8000);  // throws Failure
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  void Write(std::span<const int16_t> interleaved);  // throws Failure
  void Commit();  // writes the sizes into the header and renames; throws Failure
  const std::string& Path() const;

 private:
  std::unique_ptr<OutputFile> file_;
  int channels_;
  int64_t samples_ = 0;
};

// The samples of a WAV that WavWriter wrote, read in blocks.
class WavReader {
 public:
  explicit WavReader(const std::string& path);  // throws Failure
  ~WavReader();
  WavReader(const WavReader&) = delete;
  WavReader& operator=(const WavReader&) = delete;
  // Up to out.size() samples; 0 at the end.
  size_t Read(std::span<int16_t> out);
  int64_t Samples() const { return left_; }  // not yet read

 private:
  std::string path_;
  void* file_ = nullptr;
  int64_t left_ = 0;
};

}  // namespace zv::extract
