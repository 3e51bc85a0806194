#include "zvf.h"

#include <fmt/format.h>

#include <algorithm>

#include "failure.h"

namespace zv {

namespace {

void PutLe(uint8_t* dst, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* src, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | src[i];
  return value;
}

}  // namespace

std::array<uint8_t, ZVF_HEADER_BYTES> SerializeZvfHeader(const ZvfHeader& header) {
  std::array<uint8_t, ZVF_HEADER_BYTES> out{};
  std::copy(ZVF_MAGIC.begin(), ZVF_MAGIC.end(), out.begin());
  PutLe(&out[4], header.version, 2);
  PutLe(&out[6], header.codecType, 2);
  PutLe(&out[8], header.samplesPerFrame, 2);
  PutLe(&out[10], header.reserved, 2);
  PutLe(&out[12], header.sampleRate, 4);
  PutLe(&out[16], header.totalSamples, 8);
  return out;
}

bool HasZvfMagic(std::span<const uint8_t> bytes) {
  return bytes.size() >= ZVF_MAGIC.size() &&
         std::equal(ZVF_MAGIC.begin(), ZVF_MAGIC.end(), bytes.begin());
}

namespace {

ZvfHeader ParseHeader(std::span<const uint8_t> bytes, const std::string& fileName) {
  auto fail = [&](const std::string& what) {
    return Failure(fmt::format("{}: {}", fileName, what));
  };
  if (bytes.empty()) throw fail("file is empty");
  if (!HasZvfMagic(bytes)) throw fail("not a .zvf stream (bad magic)");
  if (bytes.size() < ZVF_HEADER_BYTES) {
    throw fail(
        fmt::format("truncated .zvf header ({} of {} bytes)", bytes.size(), ZVF_HEADER_BYTES));
  }
  ZvfHeader h;
  h.version = static_cast<uint16_t>(GetLe(&bytes[4], 2));
  h.codecType = static_cast<uint16_t>(GetLe(&bytes[6], 2));
  h.samplesPerFrame = static_cast<uint16_t>(GetLe(&bytes[8], 2));
  h.reserved = static_cast<uint16_t>(GetLe(&bytes[10], 2));
  h.sampleRate = static_cast<uint32_t>(GetLe(&bytes[12], 4));
  h.totalSamples = GetLe(&bytes[16], 8);
  if (h.version != ZVF_VERSION) {
    throw fail(fmt::format("unsupported .zvf format version {} (this tool reads {})", h.version,
                           ZVF_VERSION));
  }
  if (FindCodecType(h.codecType) == nullptr) {
    throw fail(fmt::format("bad header: codec type {} is not 1..4", h.codecType));
  }
  if (!ValidSamplesPerFrame(h.samplesPerFrame)) {
    throw fail(fmt::format("bad header: {} samples per frame is not 80..480 in steps of 80",
                           h.samplesPerFrame));
  }
  if (h.reserved != 0)
    throw fail(fmt::format("bad header: reserved field is {}, not 0", h.reserved));
  if (h.sampleRate != SAMPLE_RATE) {
    throw fail(
        fmt::format("bad header: sample rate {} Hz, streams are {} Hz", h.sampleRate, SAMPLE_RATE));
  }
  if (h.totalSamples == 0) throw fail("bad header: total sample count is 0");
  return h;
}

}  // namespace

ZvfStream ParseZvf(std::span<const uint8_t> bytes, const std::string& fileName) {
  ZvfStream s;
  s.header = ParseHeader(bytes, fileName);
  s.codec = FindCodecType(s.header.codecType);
  const int spf = s.header.samplesPerFrame;
  const int payloadWords = PayloadWords(*s.codec, spf);
  s.frameBytes = static_cast<size_t>(FrameBytes(*s.codec, spf));
  s.frameCount = static_cast<size_t>(s.header.totalSamples / static_cast<uint64_t>(spf) +
                                     (s.header.totalSamples % static_cast<uint64_t>(spf) != 0));
  const size_t size = bytes.size();
  size_t offset = ZVF_HEADER_BYTES;
  for (size_t k = 0; k < s.frameCount; ++k, offset += s.frameBytes) {
    auto fail = [&](const std::string& what) {
      return Failure(fmt::format("{}: frame {} at byte {}: {}", fileName, k, offset, what));
    };
    if (offset == size) {
      throw fail(fmt::format("stream ends after {} of {} frames", k, s.frameCount));
    }
    if (size - offset < s.frameBytes) {
      throw fail(fmt::format("short frame ({} of {} bytes)", size - offset, s.frameBytes));
    }
    const uint8_t* f = &bytes[offset];
    if ((f[1] & 0x03) != 0x01) {
      throw fail(fmt::format("bad frame header 0x{:04X} (bits 8-9 must be 01)", f[0] | f[1] << 8));
    }
    if (f[2] != payloadWords) {
      throw fail(fmt::format("length byte {} does not fit {} at {} samples per frame (expected {})",
                             f[2], s.codec->label, spf, payloadWords));
    }
  }
  if (offset != size) {
    throw Failure(fmt::format("{}: {} unexpected bytes after the last frame, at byte {}", fileName,
                              size - offset, offset));
  }
  s.frames = bytes.subspan(ZVF_HEADER_BYTES, offset - ZVF_HEADER_BYTES);
  return s;
}

}  // namespace zv
