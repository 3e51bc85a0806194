// Helpers for running zelk-voice and for making and reading files around it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zvtest {

// The tool's codec names and the engine's codec types they stand for.
struct CodecCase {
  const char* name;
  int type;
};
inline constexpr CodecCase CODECS[] = {{"alaw", 1}, {"ulaw", 2}, {"ima", 3}, {"adpcm2", 4}};

struct ToolResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with `args` in `dir`, capturing both streams.
ToolResult RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args);

// Runs a /bin/sh command line in `dir` with $ZV naming the tool (quote it:
// "\"$ZV\" encode ..."), capturing both streams; stdin is /dev/null unless
// the command redirects it.
ToolResult RunShell(const std::filesystem::path& dir, const std::string& command);

// Whether a program is on the PATH (sox, say).
bool HaveProgram(const std::string& name);

// A test with a scratch directory of its own, removed afterwards.
class ToolDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::filesystem::path Path(const std::string& name) const { return dir_ / name; }
  ToolResult Run(const std::vector<std::string>& args) const { return RunTool(dir_, args); }
  ToolResult Shell(const std::string& command) const { return RunShell(dir_, command); }
  // Names in the work folder that start with '.', i.e. temporary outputs left behind.
  std::vector<std::string> HiddenFiles() const;

 public:
  std::filesystem::path dir_;
};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// 16-bit PCM through libsndfile; `samples` interleaved when channels > 1.
// `format` 0 is a WAV; otherwise a full libsndfile format (SF_FORMAT_FLAC | ...).
void WritePcmWav(const std::filesystem::path& path, const std::vector<int16_t>& samples, int rate,
                 int channels = 1, int subtype = 0 /* PCM_16 */);
void WriteSound(const std::filesystem::path& path, const std::vector<int16_t>& samples, int rate,
                int channels, int format);
std::vector<int16_t> ReadPcm(const std::filesystem::path& path, int* rate = nullptr);

// The library's own view of a stream: frames of `samplesPerFrame` (the last
// padded with zeros) as little-endian bytes, and what its decoder makes of them.
std::vector<uint8_t> LibraryFrames(int codecType, int samplesPerFrame,
                                   const std::vector<int16_t>& samples);
std::vector<int16_t> LibraryDecode(int codecType, int samplesPerFrame,
                                   const std::vector<uint8_t>& frames, size_t total);

// A stretch of real speech at 16 kHz (LibriVox, from Debian's pocketsphinx
// test data), or an empty vector when that is not installed.
std::vector<int16_t> RealSpeech16k();

// The .zvf a correct encoder writes, built field by field.
std::vector<uint8_t> ExpectedZvf(int codecType, int samplesPerFrame,
                                 const std::vector<int16_t>& samples);

}  // namespace zvtest
