#include "containers.h"

#include <fmt/format.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "failure.h"

namespace zv {

namespace {

constexpr uint32_t UNKNOWN_32 = 0xFFFFFFFF;
// What sox writes into a WAV header when it cannot seek back to fill it in.
constexpr uint32_t SOX_UNKNOWN_32 = 0x7FFFF000;
constexpr uint32_t AU_HEADER_BYTES = 32;

void PutLe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutBe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutId(std::vector<uint8_t>& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}
uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1] << 16 | p[2] << 8 | p[3]);
}
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Reads exactly n bytes at `offset`, or returns false.
bool ReadAt(int fd, uint64_t offset, uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(fd, dst + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

Failure Truncated(const std::string& name, const char* chunk, uint64_t declared, uint64_t start,
                  uint64_t size) {
  return Failure(fmt::format(
      "{}: truncated: the {} declares {} bytes of audio from byte {}, but the file ends at byte {} "
      "({} bytes missing)",
      name, chunk, declared, start, size, start + declared - size));
}

std::vector<std::string> CheckWav(int fd, uint64_t size, const std::string& name) {
  std::array<uint8_t, 12> head{};
  if (!ReadAt(fd, 0, head.data(), head.size()) || std::memcmp(head.data(), "RIFF", 4) != 0) {
    return {};  // RIFX, RF64 and the like: libsndfile's word stands
  }
  std::vector<std::string> warnings;
  const uint32_t riffSize = Le32(&head[4]);
  bool placeholder = false;
  for (uint64_t p = 12; p + 8 <= size;) {
    std::array<uint8_t, 8> chunk{};
    if (!ReadAt(fd, p, chunk.data(), chunk.size())) break;
    const uint32_t length = Le32(&chunk[4]);
    const uint64_t start = p + 8;
    if (std::memcmp(chunk.data(), "data", 4) == 0) {
      if (length == UNKNOWN_32 || length == SOX_UNKNOWN_32) {
        placeholder = true;
        warnings.push_back(fmt::format(
            "the data chunk's size is the placeholder 0x{:08X} of a WAV written to a pipe; "
            "reading to the end of the file",
            length));
      } else if (start + length > size) {
        throw Truncated(name, "data chunk", length, start, size);
      } else if (length == 0 && start < size) {
        throw Failure(fmt::format(
            "{}: the data chunk declares 0 bytes, but {} bytes follow it (a header that was never "
            "filled in?)",
            name, size - start));
      }
      break;
    }
    p = start + length + (length & 1);
  }
  if (!placeholder && uint64_t{riffSize} + 8 != size) {
    warnings.push_back(fmt::format("the RIFF header gives a file of {} bytes, the file has {}",
                                   uint64_t{riffSize} + 8, size));
  }
  return warnings;
}

std::vector<std::string> CheckAu(int fd, uint64_t size, const std::string& name) {
  std::array<uint8_t, 12> head{};
  if (!ReadAt(fd, 0, head.data(), head.size()) || std::memcmp(head.data(), ".snd", 4) != 0) {
    return {};
  }
  const uint32_t offset = Be32(&head[4]);
  const uint32_t length = Be32(&head[8]);
  if (length == UNKNOWN_32) return {};  // AU's own "until the end of the file"
  if (uint64_t{offset} + length > size) throw Truncated(name, "AU header", length, offset, size);
  if (uint64_t{offset} + length < size) {
    return {fmt::format("the AU header declares {} bytes of audio from byte {}; {} more follow",
                        length, offset, size - offset - length)};
  }
  return {};
}

std::vector<std::string> CheckAiff(int fd, uint64_t size, const std::string& name) {
  std::array<uint8_t, 12> head{};
  if (!ReadAt(fd, 0, head.data(), head.size()) || std::memcmp(head.data(), "FORM", 4) != 0) {
    return {};
  }
  std::vector<std::string> warnings;
  const bool compressed = std::memcmp(&head[8], "AIFC", 4) == 0;
  uint64_t frameBytes = 0, frames = 0;
  for (uint64_t p = 12; p + 8 <= size;) {
    std::array<uint8_t, 16> chunk{};
    if (!ReadAt(fd, p, chunk.data(), 16)) break;
    const uint32_t length = Be32(&chunk[4]);
    const uint64_t start = p + 8;
    if (std::memcmp(chunk.data(), "COMM", 4) == 0) {
      frames = Be32(&chunk[10]);
      std::array<uint8_t, 2> bits{};
      if (ReadAt(fd, start + 6, bits.data(), 2)) {
        frameBytes = uint64_t{Be16(&chunk[8])} * ((Be16(bits.data()) + 7u) / 8u);
      }
    } else if (std::memcmp(chunk.data(), "SSND", 4) == 0) {
      if (start + length > size) throw Truncated(name, "SSND chunk", length, start, size);
      const uint64_t audio = length >= 8 ? length - 8u - Be32(&chunk[8]) : 0;
      if (!compressed && frameBytes > 0 && frames * frameBytes > audio) {
        throw Failure(
            fmt::format("{}: truncated: the COMM chunk declares {} frames, the SSND chunk holds {}",
                        name, frames, audio / frameBytes));
      }
    }
    p = start + length + (length & 1);
  }
  const uint32_t formSize = Be32(&head[4]);
  if (uint64_t{formSize} + 8 != size) {
    warnings.push_back(fmt::format("the FORM header gives a file of {} bytes, the file has {}",
                                   uint64_t{formSize} + 8, size));
  }
  return warnings;
}

// An Ogg stream ends with a page that carries the end-of-stream flag. Looks
// for the page that ends exactly at the end of the file among the last 64 KiB
// (a page is at most 65307 bytes).
void CheckOgg(int fd, uint64_t size, const std::string& name) {
  constexpr uint64_t TAIL = 65536 + 27 + 255;
  const uint64_t from = size > TAIL ? size - TAIL : 0;
  std::vector<uint8_t> tail(static_cast<size_t>(size - from));
  if (!ReadAt(fd, from, tail.data(), tail.size())) return;
  for (size_t i = tail.size() >= 27 ? tail.size() - 26 : 0; i-- > 0;) {
    if (std::memcmp(&tail[i], "OggS", 4) != 0) continue;
    const size_t segments = tail[i + 26];
    if (i + 27 + segments > tail.size()) continue;
    size_t pageEnd = i + 27 + segments;
    for (size_t s = 0; s < segments; ++s) pageEnd += tail[i + 27 + s];
    if (pageEnd > tail.size()) {
      throw Failure(fmt::format(
          "{}: truncated: the Ogg page at byte {} needs {} bytes, the file ends after {}", name,
          from + i, pageEnd - i, tail.size() - i));
    }
    if (pageEnd < tail.size()) continue;  // not the last page, or "OggS" inside a packet
    if ((tail[i + 5] & 0x04) == 0) {
      throw Failure(
          fmt::format("{}: truncated: the last Ogg page (at byte {}) is not the end of the stream",
                      name, from + i));
    }
    return;
  }
  throw Failure(fmt::format("{}: truncated: no complete Ogg page ends the file", name));
}

}  // namespace

std::vector<uint8_t> WavHeader(uint16_t formatTag, int channels, int rate, int bitsPerSample,
                               std::optional<uint64_t> frames) {
  const bool pcm = formatTag == WAV_PCM;
  const uint32_t blockAlign = static_cast<uint32_t>(channels * bitsPerSample / 8);
  const uint32_t fmtBytes = pcm ? 16 : 18;
  const uint32_t headerBytes = 12 + 8 + fmtBytes + (pcm ? 0 : 12) + 8;
  // Unknown lengths as sox writes them, which sox, ffmpeg and libsndfile all
  // read to the end of the stream (0xFFFFFFFF makes sox warn).
  uint32_t dataBytes = SOX_UNKNOWN_32, riffBytes = SOX_UNKNOWN_32 + headerBytes - 8,
           factFrames = UNKNOWN_32;
  if (frames) {
    const uint64_t bytes = *frames * blockAlign;
    dataBytes = static_cast<uint32_t>(bytes);
    riffBytes = static_cast<uint32_t>(headerBytes - 8 + bytes + (bytes & 1));
    factFrames = static_cast<uint32_t>(*frames);
  }
  std::vector<uint8_t> h;
  PutId(h, "RIFF");
  PutLe(h, riffBytes, 4);
  PutId(h, "WAVE");
  PutId(h, "fmt ");
  PutLe(h, fmtBytes, 4);
  PutLe(h, formatTag, 2);
  PutLe(h, static_cast<uint64_t>(channels), 2);
  PutLe(h, static_cast<uint64_t>(rate), 4);
  PutLe(h, static_cast<uint64_t>(rate) * blockAlign, 4);
  PutLe(h, blockAlign, 2);
  PutLe(h, static_cast<uint64_t>(bitsPerSample), 2);
  if (!pcm) {
    PutLe(h, 0, 2);  // no extra format bytes
    PutId(h, "fact");
    PutLe(h, 4, 4);
    PutLe(h, factFrames, 4);
  }
  PutId(h, "data");
  PutLe(h, dataBytes, 4);
  return h;
}

std::vector<uint8_t> AuHeader(uint32_t encoding, int channels, int rate,
                              std::optional<uint64_t> dataBytes) {
  std::vector<uint8_t> h;
  PutId(h, ".snd");
  PutBe(h, AU_HEADER_BYTES, 4);
  PutBe(h, dataBytes ? static_cast<uint32_t>(*dataBytes) : UNKNOWN_32, 4);
  PutBe(h, encoding, 4);
  PutBe(h, static_cast<uint64_t>(rate), 4);
  PutBe(h, static_cast<uint64_t>(channels), 4);
  h.resize(AU_HEADER_BYTES);  // an empty annotation: readers want at least 4 bytes of it
  return h;
}

std::vector<std::string> CheckContainer(int fd, uint64_t size, int majorFormat,
                                        const std::string& name) {
  switch (majorFormat) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      return CheckWav(fd, size, name);
    case SF_FORMAT_AU:
      return CheckAu(fd, size, name);
    case SF_FORMAT_AIFF:
      return CheckAiff(fd, size, name);
    case SF_FORMAT_OGG:
      CheckOgg(fd, size, name);
      return {};
    default:
      return {};
  }
}

}  // namespace zv
