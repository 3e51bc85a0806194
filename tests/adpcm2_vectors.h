// Two-bit ADPCM reference vectors: written by the independent reference
// (adpcm2_vector_gen, which does not link the library) and replayed through
// the exported API (adpcm2_vector_test).
//
// The inputs are not stored: each case names an integer signal generator and
// its seed, so that every host makes the same samples. What is stored is what
// the coder must make of them: every code, four to a byte, and for every
// frame a digest of its decoded samples and of the encoder's and the
// decoder's records after it.
//
// File layout, all little-endian:
//   "ZA2W", u16 version 1, u16 case count, then per case:
//     u8 name length, name,
//     u8 generator, u32 seed, u32 sample count (a multiple of 80),
//     u8 start (0 the reset record, 1 any record, 2 a record within the
//        ranges that coding keeps, 3 such a record with every zero
//        coefficient at 32767; 1 to 3 drawn from the seed),
//     u8 pattern length, pattern (frame sizes in units of 80 samples, cycled;
//        the last frame takes what is left if the pattern's is too long),
//     u32 frame count, frame count x u32 digest,
//     ceil(sample count / 4) code bytes, the earliest code in the top bits.
//   Digest: 32-bit FNV-1a over the frame's decoded samples (u16 each), then
//   the encoder's and the decoder's records (23 x u16 fields in record
//   order, then yl as u32; the spare bytes are left out).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace zelk::testing::vectors {

inline constexpr char ADPCM2_VECTOR_FILE[] = "adpcm2_vectors.bin";

// ---------------------------------------------------------------------------
// Integer signal generators: the same samples on every host.

enum class Generator : uint8_t {
  kSpeechLike = 1,    // pitch pulses through two resonances, syllable envelope
  kLoudSpeechLike,    // the same eight times louder, clipped
  kNoise,             // uniform over the whole 16-bit range
  kSteppedNoise,      // noise whose amplitude steps through the octaves
  kSquares,           // squares of seeded amplitudes and half-periods 1..128
  kClippedTriangles,  // triangles at three times full scale, clipped
  kConstants,         // runs of constant values: the tone transition
  kExtremes,          // -32768 and 32767 in seeded patterns
  kTones,             // pure tones of seeded frequency and level
  kBursts,            // silence broken by bursts of noise and single impulses
};

// xorshift32 from a mixed seed.
struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed * 2654435761u ^ 0x9E3779B9u) {
    if (s == 0) s = 1;
  }
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  // lo..hi inclusive.
  int32_t Range(int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(Next() % static_cast<uint32_t>(hi - lo + 1));
  }
};

inline int16_t Clip16(int64_t v) {
  return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

inline std::vector<int16_t> SpeechLike(size_t n, Rng& rng, int64_t gain) {
  std::vector<int16_t> out(n);
  int64_t y1 = 0, y2 = 0, z1 = 0, z2 = 0;
  int32_t period = 60, phase = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i % 1600 == 0) period = rng.Range(30, 110);  // a new syllable, a new pitch
    const int64_t pulse = ++phase >= period ? (phase = 0, 3000) : 0;
    const int64_t x = pulse + rng.Range(-40, 40);
    // Resonances near 550 Hz and 1.9 kHz, poles at radius 0.92 and 0.87 (Q14).
    const int64_t y = x + ((27853 * y1 - 13926 * y2) >> 14);
    const int64_t z = y + ((9830 * z1 - 12288 * z2) >> 14);
    y2 = y1, y1 = y, z2 = z1, z1 = z;
    const auto k = static_cast<int64_t>(i % 1600);  // envelope rises and falls per syllable
    const int64_t envelope = 16 + (k < 800 ? k : 1600 - k);
    out[i] = Clip16(((3 * y + 2 * z) * envelope * gain) >> 13);
  }
  return out;
}

inline std::vector<int16_t> Generate(Generator g, uint32_t seed, size_t n) {
  Rng rng(seed);
  std::vector<int16_t> out(n);
  switch (g) {
    case Generator::kSpeechLike:
      return SpeechLike(n, rng, 3);
    case Generator::kLoudSpeechLike:
      return SpeechLike(n, rng, 24);
    case Generator::kNoise:
      for (int16_t& s : out) s = static_cast<int16_t>(rng.Range(-32768, 32767));
      break;
    case Generator::kSteppedNoise:
      for (size_t i = 0; i < n; i += 400) {
        const int32_t amplitude = (1 << rng.Range(0, 15)) - 1;
        for (size_t k = i; k < i + 400 && k < n; ++k) {
          out[k] = static_cast<int16_t>(rng.Range(-amplitude - 1, amplitude));
        }
      }
      break;
    case Generator::kSquares:
      for (size_t i = 0; i < n;) {
        const int32_t half = rng.Range(1, 128);
        const int32_t high = rng.Next() % 2 ? 32767 : rng.Range(1, 32767);
        const int32_t low = rng.Next() % 2 ? -32768 : -rng.Range(1, 32768);
        for (int cycle = 0; cycle < 8 && i < n; ++cycle) {
          for (int32_t k = 0; k < 2 * half && i < n; ++k) {
            out[i++] = static_cast<int16_t>(k < half ? high : low);
          }
        }
      }
      break;
    case Generator::kClippedTriangles:
      for (size_t i = 0; i < n;) {
        const int32_t quarter = rng.Range(2, 200);
        for (int cycle = 0; cycle < 4 && i < n; ++cycle) {
          for (int32_t k = 0; k < 4 * quarter && i < n; ++k) {
            const int32_t t =
                k < quarter ? k : (k < 3 * quarter ? 2 * quarter - k : k - 4 * quarter);
            out[i++] = Clip16(int64_t{t} * 3 * 32768 / quarter);
          }
        }
      }
      break;
    case Generator::kConstants:
      for (size_t i = 0; i < n;) {
        static constexpr int16_t kLevels[] = {20000, -20000, 32767, -32768, 12000, -7000, 1};
        const int16_t level = rng.Next() % 2 ? kLevels[rng.Next() % 7]
                                             : static_cast<int16_t>(rng.Range(-32768, 32767));
        const int32_t length = rng.Range(300, 1500);
        for (int32_t k = 0; k < length && i < n; ++k) out[i++] = level;
      }
      break;
    case Generator::kExtremes:
      for (size_t i = 0; i < n;) {
        const uint32_t pattern = rng.Next();
        const int32_t length = rng.Range(8, 200);
        for (int32_t k = 0; k < length && i < n; ++k, ++i) {
          out[i] = (pattern >> (k % 32)) & 1 ? int16_t{32767} : int16_t{-32768};
        }
      }
      break;
    case Generator::kTones:
      for (size_t i = 0; i < n;) {
        // A rotation by an angle of about k / 2^14 radians per sample: x and
        // y trace a closed ellipse however they are rounded.
        const int64_t k = rng.Range(100, 16000);
        int64_t x = rng.Range(200, 40000), y = 0;
        const int32_t length = rng.Range(400, 2000);
        for (int32_t j = 0; j < length && i < n; ++j) {
          x -= (k * y) >> 14;
          y += (k * x) >> 14;
          out[i++] = Clip16(x);
        }
      }
      break;
    case Generator::kBursts:
      for (size_t i = 0; i < n;) {
        const int32_t quiet = rng.Range(50, 800);
        for (int32_t k = 0; k < quiet && i < n; ++k) out[i++] = 0;
        if (i < n) out[i++] = static_cast<int16_t>(rng.Next() % 2 ? 32767 : -32768);
        const int32_t burst = rng.Range(1, 300);
        const int32_t amplitude = rng.Range(10, 32767);
        for (int32_t k = 0; k < burst && i < n; ++k) {
          out[i++] = static_cast<int16_t>(rng.Range(-amplitude, amplitude));
        }
      }
      break;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Start records, as the 24 field values in record order (yl last).

inline void StartFields(uint8_t start, uint32_t seed, int32_t fields[24]) {
  Rng rng(seed ^ 0x5EED5EEDu);
  static constexpr int32_t kEdges[] = {-32768, -32767, -12289, -11777, -8193, -1,
                                       0,      1,      255,    256,    8193,  32767};
  for (int i = 0; i < 23; ++i) {
    fields[i] = rng.Next() % 2 ? kEdges[rng.Next() % 12] : rng.Range(-32768, 32767);
  }
  fields[23] = static_cast<int32_t>(rng.Next());
  if (start >= 2) {
    fields[2] = rng.Range(-27648, 27648);   // a1
    fields[16] = rng.Range(0, 3584);        // dms
    fields[17] = rng.Range(0, 14336);       // dml
    fields[18] = rng.Range(0, 512);         // ap
    fields[19] = rng.Range(544, 5120);      // yu
    fields[20] = rng.Range(0, 1);           // td
    fields[23] = rng.Range(34816, 327680);  // yl
  }
  if (start == 3) {
    for (int i = 4; i < 10; ++i) fields[i] = 32767;  // b1..b6: the next step wraps
  }
}

// The fields into the record at the start of a state block, in host order.
inline void WriteFields(const int32_t fields[24], void* block) {
  auto* bytes = static_cast<unsigned char*>(block);
  for (int i = 0; i < 23; ++i) {
    const auto v = static_cast<int16_t>(fields[i]);
    std::memcpy(bytes + 2 * i, &v, 2);
  }
  std::memcpy(bytes + 48, &fields[23], 4);
}

// ---------------------------------------------------------------------------
// Digests.

struct Digest {
  uint32_t h = 2166136261u;
  void Byte(uint32_t b) {
    h ^= b & 0xFF;
    h *= 16777619u;
  }
  void U16(uint32_t v) {
    Byte(v);
    Byte(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v);
    U16(v >> 16);
  }
  void Samples(const int16_t* pcm, size_t n) {
    for (size_t k = 0; k < n; ++k) U16(static_cast<uint16_t>(pcm[k]));
  }
  // The record at the start of a state block, spare bytes left out.
  void Record(const void* block) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (int i = 0; i < 23; ++i) {
      int16_t v;
      std::memcpy(&v, bytes + 2 * i, 2);
      U16(static_cast<uint16_t>(v));
    }
    int32_t yl;
    std::memcpy(&yl, bytes + 48, 4);
    U32(static_cast<uint32_t>(yl));
  }
};

// ---------------------------------------------------------------------------
// The cases and the file.

struct Case {
  std::string name;
  Generator generator;
  uint32_t seed;
  uint32_t samples;
  uint8_t start;
  std::vector<uint8_t> pattern;  // frame sizes / 80
  std::vector<uint32_t> digests;
  std::vector<uint8_t> codes;  // one code per sample
};

// The frame sizes of a case in order.
inline std::vector<int> FrameSizes(const Case& c) {
  std::vector<int> sizes;
  uint32_t pos = 0;
  for (size_t k = 0; pos < c.samples; ++k) {
    int n = 80 * c.pattern[k % c.pattern.size()];
    if (pos + static_cast<uint32_t>(n) > c.samples) n = static_cast<int>(c.samples - pos);
    sizes.push_back(n);
    pos += static_cast<uint32_t>(n);
  }
  return sizes;
}

namespace io {
inline void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}
struct Reader {
  const std::vector<uint8_t>& in;
  size_t pos = 0;
  bool ok = true;
  uint32_t Get(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      if (pos >= in.size()) return ok = false, 0;
      v |= uint32_t{in[pos++]} << (8 * i);
    }
    return v;
  }
};
}  // namespace io

inline std::vector<uint8_t> Serialize(const std::vector<Case>& cases) {
  std::vector<uint8_t> out = {'Z', 'A', '2', 'W'};
  io::Put(out, 1, 2);
  io::Put(out, static_cast<uint32_t>(cases.size()), 2);
  for (const Case& c : cases) {
    io::Put(out, static_cast<uint32_t>(c.name.size()), 1);
    out.insert(out.end(), c.name.begin(), c.name.end());
    io::Put(out, static_cast<uint32_t>(c.generator), 1);
    io::Put(out, c.seed, 4);
    io::Put(out, c.samples, 4);
    io::Put(out, c.start, 1);
    io::Put(out, static_cast<uint32_t>(c.pattern.size()), 1);
    out.insert(out.end(), c.pattern.begin(), c.pattern.end());
    io::Put(out, static_cast<uint32_t>(c.digests.size()), 4);
    for (uint32_t d : c.digests) io::Put(out, d, 4);
    for (size_t k = 0; k < c.codes.size(); k += 4) {
      uint32_t byte = 0;
      for (size_t j = k; j < k + 4; ++j)
        byte = 4 * byte + (j < c.codes.size() ? c.codes[j] & 3 : 0);
      io::Put(out, byte, 1);
    }
  }
  return out;
}

// Empty on a malformed file.
inline std::vector<Case> Parse(const std::vector<uint8_t>& in) {
  io::Reader r{in};
  if (r.Get(1) != 'Z' || r.Get(1) != 'A' || r.Get(1) != '2' || r.Get(1) != 'W') return {};
  if (r.Get(2) != 1) return {};
  std::vector<Case> cases(r.Get(2));
  for (Case& c : cases) {
    const uint32_t nameLength = r.Get(1);
    for (uint32_t k = 0; k < nameLength; ++k) c.name.push_back(static_cast<char>(r.Get(1)));
    c.generator = static_cast<Generator>(r.Get(1));
    c.seed = r.Get(4);
    c.samples = r.Get(4);
    c.start = static_cast<uint8_t>(r.Get(1));
    c.pattern.resize(r.Get(1));
    for (uint8_t& p : c.pattern) p = static_cast<uint8_t>(r.Get(1));
    if (!r.ok || c.samples % 80 != 0 || c.samples > (1u << 24) || c.pattern.empty() || c.start > 3)
      return {};
    for (uint8_t p : c.pattern) {
      if (p < 1 || p > 6) return {};
    }
    const uint32_t frames = r.Get(4);
    if (!r.ok || frames != FrameSizes(c).size()) return {};
    c.digests.resize(frames);
    for (uint32_t& d : c.digests) d = r.Get(4);
    c.codes.resize(c.samples);
    for (size_t k = 0; k < c.codes.size(); k += 4) {
      const uint32_t byte = r.Get(1);
      for (size_t j = 0; j < 4 && k + j < c.codes.size(); ++j) {
        c.codes[k + j] = static_cast<uint8_t>((byte >> (6 - 2 * j)) & 3);
      }
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

}  // namespace zelk::testing::vectors
