// The G.711 frame kernels of every instruction-set level that this CPU runs,
// checked against the per-sample compressors and the expand tables: every
// input in every position of every frame size and every buffer alignment.
// Payload words are compared as the frame's little-endian bytes. (Buffers that
// overlap are the frame routines' business: in_place_test.cpp.)
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/g711/g711.h"
#include "codec/g711/g711_kernels.h"
#include "frame/voice_frame.h"
#include "frame_bytes.h"
#include "test_signals.h"

namespace zelk {
namespace {

constexpr int FRAME_SIZES[] = {80, 160, 240, 320, 400, 480};
constexpr size_t GUARD = 40;  // sentinel words on each side of an output
constexpr uint16_t SENTINEL = 0xA5A5;
constexpr uint32_t ODD_STRIDE = 40503;  // any odd step visits all 65536 values

struct Law {
  const char* name;
  uint8_t (*compress)(int16_t);
  const std::array<int16_t, 256>& table;
  G711EncodeKernel G711Kernels::*encode;
  G711DecodeKernel G711Kernels::*decode;
};

const Law LAWS[] = {
    {"A-law", G711AlawCompressSample, G711_ALAW_EXPAND_TABLE, &G711Kernels::alawEncode,
     &G711Kernels::alawDecode},
    {"mu-law", G711UlawCompressSample, G711_ULAW_EXPAND_TABLE, &G711Kernels::ulawEncode,
     &G711Kernels::ulawDecode},
};

std::vector<const G711Kernels*> SupportedLevels() {
  std::vector<const G711Kernels*> levels;
  for (const G711Kernels& level : G711KernelLevels()) {
    if (level.supported()) levels.push_back(&level);
  }
  return levels;
}

std::string Where(const G711Kernels& level, const Law& law, int n) {
  return std::string(level.name) + " " + law.name + " n=" + std::to_string(n);
}

// Payload words as the sample-by-sample path packs them, as they lie in memory.
uint16_t ReferenceWord(const Law& law, int16_t earlier, int16_t later) {
  return testing::WireWord(FramePackG711Pair(law.compress(earlier), law.compress(later)));
}

bool GuardsIntact(const std::vector<uint16_t>& buffer, size_t used) {
  for (size_t i = 0; i < GUARD; ++i) {
    if (buffer[i] != SENTINEL || buffer[GUARD + used + i] != SENTINEL) return false;
  }
  return true;
}

TEST(G711FastPath, LaneFormsEqualReferenceForEveryInput) {
  for (int x = -32768; x <= 32767; ++x) {
    const auto s = static_cast<int16_t>(x);
    ASSERT_EQ(G711AlawCompressLane(s), G711AlawCompressSample(s)) << "x=" << x;
    ASSERT_EQ(G711UlawCompressLane(s), G711UlawCompressSample(s)) << "x=" << x;
  }
  for (uint32_t k = 0; k < 256; ++k) {
    ASSERT_EQ(G711AlawExpandLane(k), G711_ALAW_EXPAND_TABLE[k]) << "code=" << k;
    ASSERT_EQ(G711UlawExpandLane(k), G711_ULAW_EXPAND_TABLE[k]) << "code=" << k;
  }
}

TEST(G711FastPath, ActiveLevelIsFastestSupportedAndPortableRunsEverywhere) {
  const auto levels = G711KernelLevels();
  ASSERT_FALSE(levels.empty());
  EXPECT_STREQ(levels.back().name, "portable");
  EXPECT_TRUE(levels.back().supported());
  EXPECT_EQ(&G711ActiveKernels(), SupportedLevels().front());
  for (const G711Kernels* level : SupportedLevels()) std::printf("tested level: %s\n", level->name);
}

// Frame k puts sample (k + p * ODD_STRIDE) mod 2^16 at position p, so over all
// k every position carries every input once.
TEST(G711FastPath, EncodeEqualsReferenceForEveryInputAtEveryPosition) {
  for (const Law& law : LAWS) {
    std::array<uint8_t, 65536> codes{};
    for (int x = 0; x < 65536; ++x) codes[static_cast<size_t>(x)] = law.compress(Wrap16(x));
    for (const int n : FRAME_SIZES) {
      const auto words = static_cast<size_t>(n / 2);
      std::vector<int16_t> pcm(static_cast<size_t>(n));
      std::vector<uint16_t> expected(words);
      for (const G711Kernels* level : SupportedLevels()) {
        std::vector<uint16_t> out(words + 2 * GUARD, SENTINEL);
        int mismatches = 0;
        for (uint32_t k = 0; k < 65536 && mismatches == 0; ++k) {
          for (size_t p = 0; p < pcm.size(); ++p) {
            pcm[p] = static_cast<int16_t>((k + p * ODD_STRIDE) & 0xFFFF);
          }
          for (size_t i = 0; i < words; ++i) {
            expected[i] =
                testing::WireWord(FramePackG711Pair(codes[static_cast<uint16_t>(pcm[2 * i])],
                                                    codes[static_cast<uint16_t>(pcm[2 * i + 1])]));
          }
          (level->*law.encode)(pcm.data(), n / 2, out.data() + GUARD);
          for (size_t i = 0; i < words; ++i) mismatches += out[GUARD + i] != expected[i];
        }
        EXPECT_EQ(mismatches, 0) << Where(*level, law, n);
        EXPECT_TRUE(GuardsIntact(out, words)) << Where(*level, law, n);
      }
    }
  }
}

// Frame k holds payload word (k + i * ODD_STRIDE) mod 2^16 at position i: every
// code pair in every word position.
TEST(G711FastPath, DecodeEqualsTableForEveryCodePairAtEveryPosition) {
  for (const Law& law : LAWS) {
    for (const int n : FRAME_SIZES) {
      const auto words = static_cast<size_t>(n / 2);
      std::vector<uint16_t> values(words), payload(words);
      for (const G711Kernels* level : SupportedLevels()) {
        std::vector<uint16_t> out(static_cast<size_t>(n) + 2 * GUARD, SENTINEL);
        auto* pcm = reinterpret_cast<int16_t*>(out.data() + GUARD);
        int mismatches = 0;
        for (uint32_t k = 0; k < 65536 && mismatches == 0; ++k) {
          for (size_t i = 0; i < words; ++i) {
            values[i] = static_cast<uint16_t>((k + i * ODD_STRIDE) & 0xFFFF);
            payload[i] = testing::WireWord(values[i]);
          }
          (level->*law.decode)(payload.data(), n / 2, pcm);
          for (size_t i = 0; i < words; ++i) {
            mismatches += pcm[2 * i] != law.table[values[i] >> 8];
            mismatches += pcm[2 * i + 1] != law.table[values[i] & 0xFF];
          }
        }
        EXPECT_EQ(mismatches, 0) << Where(*level, law, n);
        EXPECT_TRUE(GuardsIntact(out, static_cast<size_t>(n))) << Where(*level, law, n);
      }
    }
  }
}

// Vector loops may peel or split on the alignment of either buffer.
TEST(G711FastPath, EveryBufferAlignmentGivesTheSameFrame) {
  const auto speech = testing::MakeSignal(testing::Signal::kNoise, 480 + 32, 11);
  for (const Law& law : LAWS) {
    for (const int n : FRAME_SIZES) {
      const auto words = static_cast<size_t>(n / 2);
      for (const G711Kernels* level : SupportedLevels()) {
        for (size_t in = 0; in < 32; ++in) {
          for (size_t at = 0; at < 32; ++at) {
            const int16_t* pcm = speech.data() + in;
            std::vector<uint16_t> frame(words + at + 2 * GUARD, SENTINEL);
            (level->*law.encode)(pcm, n / 2, frame.data() + GUARD + at);
            for (size_t i = 0; i < words; ++i) {
              ASSERT_EQ(frame[GUARD + at + i], ReferenceWord(law, pcm[2 * i], pcm[2 * i + 1]))
                  << Where(*level, law, n) << " in=" << in << " at=" << at << " i=" << i;
            }
            std::vector<uint16_t> decoded(2 * words + at + 2 * GUARD, SENTINEL);
            auto* out = reinterpret_cast<int16_t*>(decoded.data() + GUARD + at);
            (level->*law.decode)(frame.data() + GUARD + at, n / 2, out);
            for (size_t j = 0; j < 2 * words; ++j) {
              ASSERT_EQ(out[j], law.table[law.compress(pcm[j])])
                  << Where(*level, law, n) << " in=" << in << " at=" << at << " j=" << j;
            }
            ASSERT_TRUE(GuardsIntact(decoded, 2 * words + at)) << Where(*level, law, n);
          }
        }
      }
    }
  }
}

// Through the frame routines, which pick the level themselves.
TEST(G711FastPath, FrameRoutinesMatchReferenceOnSeededSignals) {
  for (const auto signal : testing::ALL_SIGNALS) {
    const auto pcm = testing::MakeSignal(signal, 480, 3);
    for (int type = 1; type <= 2; ++type) {
      const Law& law = LAWS[type - 1];
      for (const int n : FRAME_SIZES) {
        std::vector<uint16_t> frame(FRAME_MAX_WORDS, SENTINEL);
        G711EncodeFrame(pcm.data(), n, type, frame.data());
        ASSERT_EQ(testing::LoadWireWord(&frame[0]), 0x0100);
        ASSERT_EQ(testing::LoadWireWord(&frame[1]), n / 2);
        std::vector<int16_t> decoded(FRAME_MAX_SAMPLES, 0x5A5A);
        G711DecodeFrame(frame.data(), decoded.data(), type);
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
          ASSERT_EQ(decoded[i], law.table[law.compress(pcm[i])])
              << testing::SignalName(signal) << " " << law.name << " n=" << n << " i=" << i;
        }
        for (size_t i = static_cast<size_t>(n / 2) + 2; i < frame.size(); ++i) {
          ASSERT_EQ(frame[i], SENTINEL);
        }
        for (size_t i = static_cast<size_t>(n); i < decoded.size(); ++i) {
          ASSERT_EQ(decoded[i], 0x5A5A);
        }
      }
    }
  }
}

}  // namespace
}  // namespace zelk
