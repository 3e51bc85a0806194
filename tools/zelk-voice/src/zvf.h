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
#include <span>
#include <string>

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

// A stream whose header and every frame have been checked.
struct ZvfStream {
  ZvfHeader header;
  const Codec* codec = nullptr;
  size_t frameBytes = 0;
  size_t frameCount = 0;
  std::span<const uint8_t> frames;  // points into the parsed bytes
};

// Checks every header field, then every frame's header bits and length byte
// against the codec and frame size, the stream's length, and that nothing
// follows the last frame. Throws a Failure "FILE: ..." naming the frame index
// and byte offset of the first fault.
ZvfStream ParseZvf(std::span<const uint8_t> bytes, const std::string& fileName);

}  // namespace zv
