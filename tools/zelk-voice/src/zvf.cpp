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

ZvfReader::ZvfReader(Source source, std::string fileName)
    : source_(std::move(source)), fileName_(std::move(fileName)) {
  std::array<uint8_t, ZVF_HEADER_BYTES> head{};
  const size_t got = Fill(head.data(), head.size());
  header_ = ParseHeader({head.data(), got}, fileName_);
  codec_ = FindCodecType(header_.codecType);
  const uint64_t spf = header_.samplesPerFrame;
  payloadWords_ = PayloadWords(*codec_, header_.samplesPerFrame);
  frameBytes_ = static_cast<size_t>(zv::FrameBytes(*codec_, header_.samplesPerFrame));
  frameCount_ = header_.totalSamples / spf + (header_.totalSamples % spf != 0);
  frame_.resize(frameBytes_);
}

size_t ZvfReader::Fill(uint8_t* dst, size_t n) {
  const size_t got = source_({dst, n});
  offset_ += got;
  return got;
}

std::span<const uint8_t> ZvfReader::Next() {
  const uint64_t at = offset_;
  if (next_ == frameCount_) {
    // Past the last frame the input must end; count what follows if it does not.
    std::array<uint8_t, 4096> rest{};
    uint64_t extra = 0;
    for (size_t got; (got = Fill(rest.data(), rest.size())) > 0;) extra += got;
    if (extra > 0) {
      throw Failure(fmt::format("{}: {} unexpected bytes after the last frame, at byte {}",
                                fileName_, extra, at));
    }
    return {};
  }
  auto fail = [&](const std::string& what) {
    return Failure(fmt::format("{}: frame {} at byte {}: {}", fileName_, next_, at, what));
  };
  const size_t got = Fill(frame_.data(), frameBytes_);
  if (got == 0) {
    throw fail(fmt::format("stream ends after {} of {} frames", next_, frameCount_));
  }
  if (got < frameBytes_) throw fail(fmt::format("short frame ({} of {} bytes)", got, frameBytes_));
  const uint8_t* f = frame_.data();
  if ((f[1] & 0x03) != 0x01) {
    throw fail(fmt::format("bad frame header 0x{:04X} (bits 8-9 must be 01)", f[0] | f[1] << 8));
  }
  if (f[2] != payloadWords_) {
    throw fail(fmt::format("length byte {} does not fit {} at {} samples per frame (expected {})",
                           f[2], codec_->label, header_.samplesPerFrame, payloadWords_));
  }
  ++next_;
  return frame_;
}

ZvfStream ParseZvf(std::span<const uint8_t> bytes, const std::string& fileName) {
  size_t pos = 0;
  ZvfReader reader(
      [&](std::span<uint8_t> dst) {
        const size_t n = std::min(dst.size(), bytes.size() - pos);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n, dst.begin());
        pos += n;
        return n;
      },
      fileName);
  while (!reader.Next().empty()) {
  }
  ZvfStream s;
  s.header = reader.Header();
  s.codec = &reader.StreamCodec();
  s.frameBytes = reader.FrameBytes();
  s.frameCount = static_cast<size_t>(reader.FrameCount());
  s.frames = bytes.subspan(ZVF_HEADER_BYTES, s.frameCount * s.frameBytes);
  return s;
}

}  // namespace zv
