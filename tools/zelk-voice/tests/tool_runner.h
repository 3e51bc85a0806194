// Helpers for running zelk-voice and for making and reading files around it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zvtest {

struct ToolResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with `args` in `dir`, capturing both streams.
ToolResult RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// 16-bit PCM through libsndfile; `samples` interleaved when channels > 1.
void WritePcmWav(const std::filesystem::path& path, const std::vector<int16_t>& samples, int rate,
                 int channels = 1, int subtype = 0 /* PCM_16 */);
std::vector<int16_t> ReadPcm(const std::filesystem::path& path, int* rate = nullptr);

// The library's own view of a stream: frames of `samplesPerFrame` (the last
// padded with zeros) as little-endian bytes, and what its decoder makes of them.
std::vector<uint8_t> LibraryFrames(int codecType, int samplesPerFrame,
                                   const std::vector<int16_t>& samples);
std::vector<int16_t> LibraryDecode(int codecType, int samplesPerFrame,
                                   const std::vector<uint8_t>& frames, size_t total);

// The .zvf a correct encoder writes, built field by field.
std::vector<uint8_t> ExpectedZvf(int codecType, int samplesPerFrame,
                                 const std::vector<int16_t>& samples);

}  // namespace zvtest
