// Reference vectors of the two-bit ADPCM codec: PCM in, frames out, PCM
// decoded, each case coded from the reset through the exported API.
//
// File layout, all little-endian:
//   "ZA2V", u16 case count, then per case:
//     u8 name length, name, u16 frame count, then per frame:
//       u16 n, n x i16 PCM in, (2 + n / 8) x u16 frame words, n x i16 PCM decoded
// The frame words are the frame's own bytes, and VectorFrame::frame holds
// them as they lie in memory (little-endian words whatever the host).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace zelk::testing {

struct VectorFrame {
  std::vector<int16_t> pcm;
  std::vector<uint16_t> frame;
  std::vector<int16_t> decoded;
};

struct VectorCase {
  std::string name;
  std::vector<VectorFrame> frames;
};

inline constexpr char ADPCM2_VECTOR_FILE[] = "adpcm2_vectors.bin";

namespace vector_io {
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
struct Reader {
  const std::vector<uint8_t>& in;
  size_t pos = 0;
  bool ok = true;
  uint32_t Byte() {
    if (pos >= in.size()) return ok = false, 0;
    return in[pos++];
  }
  uint16_t U16() {
    const uint32_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  // Two bytes as they come, for a word of a frame.
  uint16_t FrameWord() {
    const unsigned char b[2] = {static_cast<unsigned char>(Byte()),
                                static_cast<unsigned char>(Byte())};
    uint16_t w;
    std::memcpy(&w, b, 2);
    return w;
  }
};
}  // namespace vector_io

inline std::vector<uint8_t> SerializeVectors(const std::vector<VectorCase>& cases) {
  std::vector<uint8_t> out = {'Z', 'A', '2', 'V'};
  vector_io::Put16(out, static_cast<uint32_t>(cases.size()));
  for (const VectorCase& c : cases) {
    out.push_back(static_cast<uint8_t>(c.name.size()));
    out.insert(out.end(), c.name.begin(), c.name.end());
    vector_io::Put16(out, static_cast<uint32_t>(c.frames.size()));
    for (const VectorFrame& f : c.frames) {
      vector_io::Put16(out, static_cast<uint32_t>(f.pcm.size()));
      for (int16_t s : f.pcm) vector_io::Put16(out, static_cast<uint16_t>(s));
      for (uint16_t w : f.frame) {
        unsigned char b[2];
        std::memcpy(b, &w, 2);
        out.insert(out.end(), b, b + 2);
      }
      for (int16_t s : f.decoded) vector_io::Put16(out, static_cast<uint16_t>(s));
    }
  }
  return out;
}

// Empty on a malformed file.
inline std::vector<VectorCase> ParseVectors(const std::vector<uint8_t>& in) {
  vector_io::Reader r{in};
  if (r.Byte() != 'Z' || r.Byte() != 'A' || r.Byte() != '2' || r.Byte() != 'V') return {};
  std::vector<VectorCase> cases(r.U16());
  for (VectorCase& c : cases) {
    const uint32_t nameLength = r.Byte();
    for (uint32_t k = 0; k < nameLength; ++k) c.name.push_back(static_cast<char>(r.Byte()));
    c.frames.resize(r.U16());
    for (VectorFrame& f : c.frames) {
      const uint16_t n = r.U16();
      if (n > 480) return {};
      for (uint16_t k = 0; k < n; ++k) f.pcm.push_back(static_cast<int16_t>(r.U16()));
      for (int k = 0; k < 2 + n / 8; ++k) f.frame.push_back(r.FrameWord());
      for (uint16_t k = 0; k < n; ++k) f.decoded.push_back(static_cast<int16_t>(r.U16()));
    }
  }
  if (!r.ok || r.pos != in.size()) return {};
  return cases;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    int ch;
    while ((ch = std::fgetc(f)) != EOF) data.push_back(static_cast<uint8_t>(ch));
    std::fclose(f);
  }
  return data;
}

}  // namespace zelk::testing
