// Prints a digest of what the library makes of fixed signals: the frames every
// codec encodes at every frame size, the samples it decodes from them, the
// samples it decodes from arbitrary payloads, and the status of refused calls.
//
// Only the public interface is used and the signals are generated with integer
// arithmetic alone, so two builds of the library on different platforms (the
// Linux shared library, the Windows DLL under Wine, big-endian s390x and
// aarch64 under qemu) must print the same lines, which tests/data holds.
// Frames are digested as the bytes they are; samples and state fields as
// little-endian numbers, so that the host's byte order does not show.
// One line per codec and signal keeps a mismatch easy to place.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frame_bytes.h"
#include "zelk_voice_engine.h"

namespace {

constexpr int SIGNAL_SAMPLES = 9600;  // 1.2 s: a whole number of frames of every size
constexpr int FRAME_SIZES[] = {80, 160, 240, 320, 400, 480};
constexpr int32_t CODEC_TYPES[] = {G711_ALAW, G711_ULAW, IMA_ADPCM, ADPCM_2BIT};

// xorshift32: the same numbers on every platform.
struct Rng {
  uint32_t s;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
};

// 64-bit FNV-1a over little-endian bytes.
struct Digest {
  uint64_t h = 0xcbf29ce484222325ull;
  void Byte(uint8_t b) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  void Word(uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Half(uint16_t v) {
    Byte(static_cast<uint8_t>(v));
    Byte(static_cast<uint8_t>(v >> 8));
  }
  // The first `words` words of a frame, byte by byte in memory order.
  void FrameWords(const uint16_t* frame, int words) {
    for (uint8_t b : zelk::testing::WireBytes(frame, static_cast<size_t>(words))) Byte(b);
  }
};

// A state block field by field in host order: IMA ADPCM's int16 predictor and
// int8 step index, the two-bit coder's 23 int16 fields, two spare bytes and
// int32 yl; every other byte (all of G.711's block) by itself.
void DigestState(int32_t codec, const VoiceCodecState& state, Digest& d) {
  unsigned char bytes[sizeof state];
  std::memcpy(bytes, &state, sizeof state);
  size_t at = 0;
  auto half = [&] {
    uint16_t v;
    std::memcpy(&v, bytes + at, 2);
    d.Half(v);
    at += 2;
  };
  if (codec == IMA_ADPCM) half();
  if (codec == ADPCM_2BIT) {
    while (at < 46) half();
    d.Byte(bytes[at++]);
    d.Byte(bytes[at++]);
    uint32_t yl;
    std::memcpy(&yl, bytes + at, 4);
    d.Word(yl);
    at += 4;
  }
  while (at < sizeof bytes) d.Byte(bytes[at++]);
}

// The payload length L: the frame's third byte.
int PayloadWordsOf(const uint16_t* frame) { return zelk::testing::LoadWireWord(frame + 1) & 0xFF; }

int16_t Saturate(int32_t v) {
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

enum class Kind { kSilence, kNoise, kQuietNoise, kVoiced, kSquare, kSweep, kConstant };
struct NamedSignal {
  const char* name;
  Kind kind;
};
constexpr NamedSignal SIGNALS[] = {{"silence", Kind::kSilence},        {"noise", Kind::kNoise},
                                   {"quiet-noise", Kind::kQuietNoise}, {"voiced", Kind::kVoiced},
                                   {"square", Kind::kSquare},          {"sweep", Kind::kSweep},
                                   {"constant", Kind::kConstant}};

std::vector<int16_t> MakeSignal(Kind kind, uint32_t seed) {
  Rng rng{seed};
  std::vector<int16_t> out(SIGNAL_SAMPLES);
  switch (kind) {
    case Kind::kSilence:
      break;
    case Kind::kNoise:
      for (auto& s : out) s = static_cast<int16_t>(static_cast<int32_t>(rng.Next() >> 16) - 32768);
      break;
    case Kind::kQuietNoise:
      for (auto& s : out) s = static_cast<int16_t>(rng.Below(129) - 64);
      break;
    case Kind::kVoiced: {
      // Pitch pulses and a little noise through a two-pole resonance (Q14
      // coefficients), with a slow triangular loudness swell, clipped.
      const int period = 40 + rng.Below(60);
      int64_t y1 = 0, y2 = 0;
      for (int i = 0; i < SIGNAL_SAMPLES; ++i) {
        const int64_t excitation = (i % period == 0 ? 12000 : 0) + rng.Below(801) - 400;
        const int64_t y = excitation + ((27000 * y1 - 14000 * y2) >> 14);
        y2 = y1;
        y1 = y < -200000 ? -200000 : (y > 200000 ? 200000 : y);
        const int64_t swell = 1 + (i % 2000 < 1000 ? i % 2000 : 2000 - i % 2000);  // 1..1000
        out[static_cast<size_t>(i)] = Saturate(static_cast<int32_t>(y1 * swell / 400));
      }
      break;
    }
    case Kind::kSquare: {
      const int half = 2 + rng.Below(40);
      for (int i = 0; i < SIGNAL_SAMPLES; ++i) {
        out[static_cast<size_t>(i)] = (i / half) % 2 ? int16_t{-32768} : int16_t{32767};
      }
      break;
    }
    case Kind::kSweep: {
      // A sawtooth whose step grows: low-frequency ramps turning into noise-like wraps.
      uint16_t phase = 0;
      for (int i = 0; i < SIGNAL_SAMPLES; ++i) {
        phase = static_cast<uint16_t>(phase + 8 + i / 4);
        out[static_cast<size_t>(i)] = static_cast<int16_t>(phase);
      }
      break;
    }
    case Kind::kConstant: {
      const auto v = static_cast<int16_t>(static_cast<int32_t>(rng.Next() & 0xFFFF) - 32768);
      for (auto& s : out) s = v;
      break;
    }
  }
  return out;
}

int SamplesPerWord(int32_t codec) { return codec == IMA_ADPCM ? 4 : (codec == ADPCM_2BIT ? 8 : 2); }

// One encoder and one decoder stream over the whole signal at each frame size.
void DigestStreams(int32_t codec, const std::vector<int16_t>& signal, Digest& d) {
  for (int n : FRAME_SIZES) {
    VoiceCodecState enc{}, dec{};
    d.Word(ZELK_VOICE_EncReset(&enc, codec));
    d.Word(ZELK_VOICE_DecReset(&dec, codec));
    for (int at = 0; at + n <= SIGNAL_SAMPLES; at += n) {
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS] = {};
      int16_t pcm[ZELK_VOICE_MAX_SAMPLES] = {};
      int16_t count = -1;
      d.Word(ZELK_VOICE_EncodeFrame(&enc, &signal[static_cast<size_t>(at)], frame, n, codec));
      const int words = 2 + PayloadWordsOf(frame);
      d.FrameWords(frame, words < ZELK_VOICE_MAX_FRAME_WORDS ? words : ZELK_VOICE_MAX_FRAME_WORDS);
      d.Word(ZELK_VOICE_DecodeFrame(&dec, frame, pcm, codec, &count));
      d.Half(static_cast<uint16_t>(count));
      for (int i = 0; i < count && i < ZELK_VOICE_MAX_SAMPLES; ++i) {
        d.Half(static_cast<uint16_t>(pcm[i]));
      }
    }
    DigestState(codec, enc, d);
    DigestState(codec, dec, d);
  }
}

// A decoder fed payloads of random codes (headers with random spare bits),
// which drives the adaptive decoders into states real speech rarely reaches.
void DigestArbitraryPayloads(int32_t codec, uint32_t seed, Digest& d) {
  Rng rng{seed};
  VoiceCodecState dec{};
  d.Word(ZELK_VOICE_DecReset(&dec, codec));
  for (int f = 0; f < 200; ++f) {
    const int samples = FRAME_SIZES[rng.Below(6)];
    const int words = samples / SamplesPerWord(codec);
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    using zelk::testing::StoreWireWord;
    StoreWireWord(&frame[0], static_cast<uint16_t>((rng.Next() & 0xFCFF) | 0x0100));
    StoreWireWord(&frame[1], static_cast<uint16_t>(words));
    for (int i = 0; i < words; ++i) StoreWireWord(&frame[2 + i], static_cast<uint16_t>(rng.Next()));
    int16_t pcm[ZELK_VOICE_MAX_SAMPLES] = {};
    int16_t count = -1;
    d.Word(ZELK_VOICE_DecodeFrame(&dec, frame, pcm, codec, &count));
    d.Half(static_cast<uint16_t>(count));
    for (int i = 0; i < count && i < ZELK_VOICE_MAX_SAMPLES; ++i) {
      d.Half(static_cast<uint16_t>(pcm[i]));
    }
  }
  DigestState(codec, dec, d);
}

// Statuses of refused calls, including 32-bit arguments whose upper half is set.
void DigestRefusals(Digest& d) {
  VoiceCodecState state{};
  int16_t pcm[ZELK_VOICE_MAX_SAMPLES] = {};
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS] = {};
  zelk::testing::StoreWireWord(&frame[0], 0x0100);
  zelk::testing::StoreWireWord(&frame[1], 40);
  int16_t count = 0;
  const int32_t lengths[] = {0, 79, 81, 480, 560, -80, 0x10050, 0x7FFF0050};
  const int32_t types[] = {0, 1, 4, 5, -1, 0x10001, 0x20004, 0x7FFF};
  for (int32_t n : lengths) {
    for (int32_t t : types) {
      d.Word(ZELK_VOICE_EncodeFrame(&state, pcm, frame, n, t));
      d.Word(ZELK_VOICE_EncReset(&state, t));
      d.Word(ZELK_VOICE_DecReset(&state, t));
    }
  }
  const uint16_t headers[] = {0x0000, 0x0100, 0x0200, 0x0300, 0xFDFF};
  const uint16_t lengthWords[] = {0, 10, 40, 50, 60, 0xFF28, 241};
  for (uint16_t header : headers) {
    for (uint16_t lengthWord : lengthWords) {
      for (int32_t t : types) {
        zelk::testing::StoreWireWord(&frame[0], header);
        zelk::testing::StoreWireWord(&frame[1], lengthWord);
        VoiceCodecState dec{};
        ZELK_VOICE_DecReset(&dec, t);
        d.Word(ZELK_VOICE_DecodeFrame(&dec, frame, pcm, t, &count));
        d.Half(static_cast<uint16_t>(count));
      }
    }
  }
  d.Word(ZELK_VOICE_EncodeFrame(nullptr, pcm, frame, 80, 1));
  d.Word(ZELK_VOICE_EncodeFrame(&state, nullptr, frame, 80, 1));
  d.Word(ZELK_VOICE_EncodeFrame(&state, pcm, nullptr, 80, 1));
  d.Word(ZELK_VOICE_DecodeFrame(nullptr, frame, pcm, 1, &count));
  d.Word(ZELK_VOICE_DecodeFrame(&state, nullptr, pcm, 1, &count));
  d.Word(ZELK_VOICE_DecodeFrame(&state, frame, nullptr, 1, &count));
  d.Word(ZELK_VOICE_GetVersionNumber());
}

}  // namespace

int main() {
  uint32_t seed = 0x2545F491u;
  for (int32_t codec : CODEC_TYPES) {
    for (const NamedSignal& signal : SIGNALS) {
      Digest d;
      DigestStreams(codec, MakeSignal(signal.kind, seed++), d);
      std::printf("codec %d %-12s streams  %016llx\n", static_cast<int>(codec), signal.name,
                  static_cast<unsigned long long>(d.h));
    }
    Digest d;
    DigestArbitraryPayloads(codec, seed++, d);
    std::printf("codec %d %-12s payloads %016llx\n", static_cast<int>(codec), "random",
                static_cast<unsigned long long>(d.h));
  }
  Digest d;
  DigestRefusals(d);
  std::printf("refusals               %016llx\n", static_cast<unsigned long long>(d.h));
  return 0;
}
