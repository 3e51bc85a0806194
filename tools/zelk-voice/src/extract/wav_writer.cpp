#include "wav_writer.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../failure.h"
#include "../output_file.h"

namespace zv::extract {

namespace {

constexpr size_t HEADER_BYTES = 44;
constexpr size_t BUFFER_BYTES = 8192;  // per stream: thousands of streams may be open at once
constexpr int64_t MAX_DATA_BYTES = 0xFFFFFFFFll - 36;

void Le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Le32(uint8_t* p, uint32_t v) {
  Le16(p, v & 0xFFFF);
  Le16(p + 2, v >> 16);
}

// RIFF/WAVE, one fmt chunk (PCM, 16-bit), one data chunk of dataBytes.
std::array<uint8_t, HEADER_BYTES> Header(int channels, int rate, uint32_t dataBytes) {
  std::array<uint8_t, HEADER_BYTES> h{};
  std::memcpy(h.data(), "RIFF", 4);
  Le32(&h[4], 36 + dataBytes);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  Le32(&h[16], 16);
  Le16(&h[20], 1);
  Le16(&h[22], static_cast<uint32_t>(channels));
  Le32(&h[24], static_cast<uint32_t>(rate));
  Le32(&h[28], static_cast<uint32_t>(rate * channels * 2));
  Le16(&h[32], static_cast<uint32_t>(channels * 2));
  Le16(&h[34], 16);
  std::memcpy(&h[36], "data", 4);
  Le32(&h[40], dataBytes);
  return h;
}

}  // namespace

WavWriter::WavWriter(const std::string& path, int channels, int rate)
    : file_(std::make_unique<OutputFile>(path, false, BUFFER_BYTES)), channels_(channels) {
  file_->Write(Header(channels, rate, 0));  // the sizes are written on Commit
}

WavWriter::~WavWriter() = default;

const std::string& WavWriter::Path() const { return file_->Path(); }

void WavWriter::Write(std::span<const int16_t> samples) {
  if ((samples_ + static_cast<int64_t>(samples.size())) * 2 > MAX_DATA_BYTES) {
    throw Failure(fmt::format("{}: more audio than a WAV file holds (4 GB)", Path()));
  }
  std::array<uint8_t, 1024> bytes;  // little-endian, a block at a time
  for (size_t at = 0; at < samples.size();) {
    const size_t n = std::min(samples.size() - at, bytes.size() / 2);
    for (size_t i = 0; i < n; ++i) {
      const auto u = static_cast<uint16_t>(samples[at + i]);
      bytes[2 * i] = static_cast<uint8_t>(u);
      bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    file_->Write(std::span<const uint8_t>(bytes.data(), 2 * n));
    at += n;
  }
  samples_ += static_cast<int64_t>(samples.size());
}

void WavWriter::Commit() {
  const auto dataBytes = static_cast<uint32_t>(samples_ * 2);
  uint8_t size[4];
  Le32(size, 36 + dataBytes);
  file_->WriteAt(4, size);
  Le32(size, dataBytes);
  file_->WriteAt(40, size);
  file_->Commit();
}

WavReader::WavReader(const std::string& path) : path_(path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  uint8_t h[HEADER_BYTES];
  if (!f || std::fread(h, 1, HEADER_BYTES, f) != HEADER_BYTES) {
    if (f) std::fclose(f);
    throw Failure(fmt::format("{}: cannot read back: {}", path, std::strerror(errno)));
  }
  file_ = f;
  left_ = (int64_t{h[40]} | int64_t{h[41]} << 8 | int64_t{h[42]} << 16 | int64_t{h[43]} << 24) / 2;
}

WavReader::~WavReader() {
  if (file_) std::fclose(static_cast<std::FILE*>(file_));
}

size_t WavReader::Read(std::span<int16_t> out) {
  const size_t want =
      static_cast<size_t>(std::min<int64_t>(left_, static_cast<int64_t>(out.size())));
  uint8_t buf[4096];
  size_t done = 0;
  while (done < want) {
    const size_t n = std::min(want - done, sizeof buf / 2);
    if (std::fread(buf, 2, n, static_cast<std::FILE*>(file_)) != n) {
      throw Failure(fmt::format("{}: cannot read back: file shorter than its header says", path_));
    }
    for (size_t i = 0; i < n; ++i) {
      out[done + i] = static_cast<int16_t>(static_cast<uint16_t>(buf[2 * i] | buf[2 * i + 1] << 8));
    }
    done += n;
  }
  left_ -= static_cast<int64_t>(done);
  return done;
}

}  // namespace zv::extract
