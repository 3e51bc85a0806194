// The .zvf stream: a fixed 24-byte little-endian header followed by the library's
// frames back to back, all of one codec and one frame size.
//
//   offset  size  field
//        0     4  magic "ZVF" 0x1A
//        4     2  format version, 1
//        6     2  codec type, 1..4
//        8     2  samples per frame, 80..480 in steps of 80
//       10     2  reserved, 0
//       12     4  sample rate, 8000
//       16     8  total sample count, at least 1
//       24        ceil(total / samples per frame) frames of 4 + 2L bytes each; the last
//                 frame is padded with zero samples, which a reader drops
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "codec.h"

namespace zv {

inline constexpr std::array<uint8_t, 4> ZVF_MAGIC = {'Z', 'V', 'F', 0x1A};
inline constexpr uint16_t ZVF_VERSION = 1;
inline constexpr size_t ZVF_HEADER_BYTES = 24;

struct ZvfHeader {
  uint16_t version = ZVF_VERSION;
  uint16_t codecType = 0;
  uint16_t samplesPerFrame = 0;
  uint16_t reserved = 0;
  uint32_t sampleRate = SAMPLE_RATE;
  uint64_t totalSamples = 0;
};

std::array<uint8_t, ZVF_HEADER_BYTES> SerializeZvfHeader(const ZvfHeader& header);

bool HasZvfMagic(std::span<const uint8_t> bytes);

// Reads a stream front to back and checks each part as it arrives: the
// header on construction, each frame's header bits and length byte in Next,
// and at the end that no frame is missing and nothing follows the last. Any
// fault throws a Failure "FILE: ..." naming the frame index and byte offset.
class ZvfReader {
 public:
  // Fills the span, or as much of it as the input still holds; returns the count.
  using Source = std::function<size_t(std::span<uint8_t>)>;

  ZvfReader(Source source, std::string fileName);

  const ZvfHeader& Header() const { return header_; }
  const Codec& StreamCodec() const { return *codec_; }
  size_t FrameBytes() const { return frameBytes_; }
  uint64_t FrameCount() const { return frameCount_; }
  uint64_t FramesRead() const { return next_; }
  uint64_t BytesRead() const { return offset_; }

  // The next frame, checked, as FrameBytes() little-endian bytes; an empty
  // span after the last frame.
  std::span<const uint8_t> Next();

 private:
  size_t Fill(uint8_t* dst, size_t n);

  Source source_;
  std::string fileName_;
  ZvfHeader header_;
  const Codec* codec_ = nullptr;
  size_t frameBytes_ = 0;
  int payloadWords_ = 0;
  uint64_t frameCount_ = 0;
  uint64_t next_ = 0;
  uint64_t offset_ = 0;
  std::vector<uint8_t> frame_;
};

// A stream whose header and every frame have been checked.
struct ZvfStream {
  ZvfHeader header;
  const Codec* codec = nullptr;
  size_t frameBytes = 0;
  size_t frameCount = 0;
  std::span<const uint8_t> frames;  // points into the parsed bytes
};

// The whole of a stream held in memory, checked by a ZvfReader.
ZvfStream ParseZvf(std::span<const uint8_t> bytes, const std::string& fileName);

}  // namespace zv
