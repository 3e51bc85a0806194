// G.711 over its whole input domain: every 16-bit sample through both
// compressors and every code through both expanders, against a literal
// segment-search encoder written here, hand-worked values and the properties
// that any companding law must have.
#include "codec/g711/g711.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace zelk {
namespace {

// Normalisation count straight from its definition: shift left until bit 15 changes.
int NormCountByShifting(int16_t v) {
  for (int i = 1; i <= 15; ++i) {
    const auto shifted = static_cast<int16_t>(static_cast<uint16_t>(v) << i);
    if ((shifted < 0) != (v < 0)) return i - 1;
  }
  return 15;
}

// Segment search over the interval ends, as G.711 tables its laws; no bit tricks.
uint8_t AlawBySearch(int16_t x) {
  int v = x >> 3;
  int mask = 0xD5;
  if (v < 0) v = -v - 1, mask = 0x55;
  static constexpr int kSegmentEnd[8] = {31, 63, 127, 255, 511, 1023, 2047, 4095};
  int seg = 0;
  while (v > kSegmentEnd[seg]) ++seg;
  const int mantissa = seg == 0 ? v / 2 % 16 : (v >> seg) % 16;
  return static_cast<uint8_t>((seg * 16 + mantissa) ^ mask);
}

// mu-law with the one's-complement magnitude of the classic reference coder.
uint8_t UlawOnesComplementBySearch(int16_t x) {
  int v = x >> 2;
  int mask = 0xFF;
  if (v < 0) v = -v - 1, mask = 0x7F;
  v = std::min(v, 8159) + 33;
  static constexpr int kSegmentEnd[8] = {63, 127, 255, 511, 1023, 2047, 4095, 8191};
  int seg = 0;
  while (seg < 8 && v > kSegmentEnd[seg]) ++seg;
  if (seg == 8) return static_cast<uint8_t>(0x7F ^ mask);
  return static_cast<uint8_t>((seg * 16 + ((v >> (seg + 1)) & 15)) ^ mask);
}

template <typename F>
void ForEachSample(F&& f) {
  for (int x = -32768; x <= 32767; ++x) f(static_cast<int16_t>(x));
}

TEST(G711NormCount, MatchesShiftDefinitionForEveryValue) {
  ForEachSample([](int16_t v) { ASSERT_EQ(G711NormCount(v), NormCountByShifting(v)) << v; });
  EXPECT_EQ(G711NormCount(1), 14);
  EXPECT_EQ(G711NormCount(31), 10);
  EXPECT_EQ(G711NormCount(32), 9);
  EXPECT_EQ(G711NormCount(0x4000), 0);
  EXPECT_EQ(G711NormCount(0), 15);
  EXPECT_EQ(G711NormCount(-1), 15);
}

TEST(G711Alaw, EverySampleMatchesSegmentSearch) {
  ForEachSample([](int16_t x) { ASSERT_EQ(G711AlawCompressSample(x), AlawBySearch(x)) << x; });
}

TEST(G711Ulaw, NonNegativeSamplesMatchOnesComplementCoder) {
  for (int x = 0; x <= 32767; ++x) {
    ASSERT_EQ(G711UlawCompressSample(static_cast<int16_t>(x)),
              UlawOnesComplementBySearch(static_cast<int16_t>(x)))
        << x;
  }
}

// A negative sample codes as the one's-complement coder codes x - 4; exactly
// 508 inputs end up one step further out than that coder puts them.
TEST(G711Ulaw, NegativeSamplesAreTheOnesComplementCodeOfXMinusFour) {
  int movedOutward = 0;
  for (int x = -32768; x < 0; ++x) {
    const auto sample = static_cast<int16_t>(x);
    const uint8_t ours = G711UlawCompressSample(sample);
    const uint8_t reference = UlawOnesComplementBySearch(sample);
    if (x >= -32764) {
      ASSERT_EQ(ours, UlawOnesComplementBySearch(static_cast<int16_t>(x - 4))) << x;
    } else {
      ASSERT_EQ(ours, 0x00) << x;
    }
    if (ours != reference) {
      ++movedOutward;
      // One step outward: for negative codes the magnitude grows as the code falls.
      ASSERT_EQ(ours + 1, reference) << x;
    }
  }
  EXPECT_EQ(movedOutward, 508);
}

TEST(G711, HandWorkedCodes) {
  struct Case {
    int16_t x;
    uint8_t alaw;
  };
  for (const Case& c : std::initializer_list<Case>{{0, 0xD5},
                                                   {15, 0xD5},
                                                   {16, 0xD4},
                                                   {-1, 0x55},
                                                   {-16, 0x55},
                                                   {-17, 0x54},
                                                   {31743, 0xAB},
                                                   {31744, 0xAA},
                                                   {32767, 0xAA},
                                                   {-32768, 0x2A}}) {
    EXPECT_EQ(G711AlawCompressSample(c.x), c.alaw) << c.x;
  }
  struct UCase {
    int16_t x;
    uint8_t ulaw;
  };
  for (const UCase& c : std::initializer_list<UCase>{{0, 0xFF},
                                                     {3, 0xFF},
                                                     {4, 0xFE},
                                                     {-1, 0x7E},
                                                     {-4, 0x7E},
                                                     {-8, 0x7E},
                                                     {-9, 0x7D},
                                                     {100, 0xF2},
                                                     {-100, 0x72},
                                                     {31611, 0x81},
                                                     {31612, 0x80},
                                                     {-31608, 0x01},
                                                     {-31609, 0x00}}) {
    EXPECT_EQ(G711UlawCompressSample(c.x), c.ulaw) << c.x;
  }
}

TEST(G711, SaturationThresholds) {
  ForEachSample([](int16_t x) {
    const uint8_t a = G711AlawCompressSample(x);
    ASSERT_EQ(a == 0xAA, x >= 31744) << x;
    ASSERT_EQ(a == 0x2A, x <= -31745) << x;
    const uint8_t u = G711UlawCompressSample(x);
    ASSERT_EQ(u == 0x80, x >= 31612) << x;
    ASSERT_EQ(u == 0x00, x <= -31609) << x;
    ASSERT_NE(u, 0x7F) << x;  // the negative zero code is never produced
  });
}

TEST(G711, ExpandTablesHoldTheLawsValues) {
  EXPECT_EQ(G711_ALAW_EXPAND_TABLE[0x00], -5504);
  EXPECT_EQ(G711_ALAW_EXPAND_TABLE[0x80], 5504);
  EXPECT_EQ(G711_ALAW_EXPAND_TABLE[0x55], -8);
  EXPECT_EQ(G711_ALAW_EXPAND_TABLE[0xD5], 8);
  EXPECT_EQ(G711_ALAW_EXPAND_TABLE[0x2A], -32256);
  EXPECT_EQ(G711_ALAW_EXPAND_TABLE[0xAA], 32256);
  EXPECT_EQ(G711_ULAW_EXPAND_TABLE[0x00], -32124);
  EXPECT_EQ(G711_ULAW_EXPAND_TABLE[0x80], 32124);
  EXPECT_EQ(G711_ULAW_EXPAND_TABLE[0x7F], 0);
  EXPECT_EQ(G711_ULAW_EXPAND_TABLE[0xFF], 0);
  EXPECT_EQ(G711_ULAW_EXPAND_TABLE[0x7E], -8);
  EXPECT_EQ(G711_ULAW_EXPAND_TABLE[0xFE], 8);
  for (int k = 0; k < 128; ++k) {  // the two halves mirror each other
    EXPECT_EQ(G711_ALAW_EXPAND_TABLE[k], -G711_ALAW_EXPAND_TABLE[k + 128]);
    EXPECT_EQ(G711_ULAW_EXPAND_TABLE[k], -G711_ULAW_EXPAND_TABLE[k + 128]);
  }
}

// Compressing a decoded value gives back its code (mu-law's negative zero
// 0x7F comes back as 0xFF), and every code's decoded value lies inside the
// contiguous run of inputs that produce it.
TEST(G711, ExpandThenCompressIsStableAndDecodedValuesLieInTheirIntervals) {
  for (int k = 0; k < 256; ++k) {
    EXPECT_EQ(G711AlawCompressSample(G711_ALAW_EXPAND_TABLE[k]), k) << k;
    EXPECT_EQ(G711UlawCompressSample(G711_ULAW_EXPAND_TABLE[k]), k == 0x7F ? 0xFF : k) << k;
  }
  for (const auto& law : {std::make_pair(&G711AlawCompressSample, &G711_ALAW_EXPAND_TABLE),
                          std::make_pair(&G711UlawCompressSample, &G711_ULAW_EXPAND_TABLE)}) {
    std::array<int, 256> lo, hi;
    lo.fill(99999);
    hi.fill(-99999);
    ForEachSample([&](int16_t x) {
      const uint8_t k = law.first(x);
      lo[k] = std::min(lo[k], static_cast<int>(x));
      hi[k] = std::max(hi[k], static_cast<int>(x));
    });
    for (int k = 0; k < 256; ++k) {
      if (lo[k] > hi[k]) continue;  // code never produced
      const int decoded = (*law.second)[static_cast<size_t>(k)];
      EXPECT_LE(lo[k], decoded) << k;
      EXPECT_GE(hi[k], decoded) << k;
    }
  }
}

// Larger inputs never decode to smaller values.
TEST(G711, CompressThenExpandIsMonotonic) {
  int lastA = -40000, lastU = -40000;
  ForEachSample([&](int16_t x) {
    const int a = G711_ALAW_EXPAND_TABLE[G711AlawCompressSample(x)];
    const int u = G711_ULAW_EXPAND_TABLE[G711UlawCompressSample(x)];
    ASSERT_GE(a, lastA) << x;
    ASSERT_GE(u, lastU) << x;
    lastA = a, lastU = u;
  });
}

TEST(G711, BlockOperationsHonourTheirCount) {
  const int16_t samples[4] = {0, 16, -17, 32767};
  uint16_t codes[6];
  std::fill(std::begin(codes), std::end(codes), 0xEEEE);
  G711AlawCompress(samples, codes, 4);
  EXPECT_EQ((std::vector<uint16_t>(codes, codes + 6)),
            (std::vector<uint16_t>{0xD5, 0xD4, 0x54, 0xAA, 0xEEEE, 0xEEEE}));
  int16_t out[6];
  std::fill(std::begin(out), std::end(out), int16_t{0x5A5A});
  G711UlawExpand(codes, out, 2);
  // mu-law 0xD5 and 0xD4: segment 2, steps 10 and 11, (8m + 132) * 4 - 132.
  EXPECT_EQ(out[0], 716);
  EXPECT_EQ(out[1], 748);
  EXPECT_EQ(out[2], 0x5A5A);

  // Zero, negative and "negative in the low 16 bits" counts write nothing.
  for (int32_t count : {0, -1, -480, 0x0001FFFF}) {
    std::fill(std::begin(codes), std::end(codes), 0xEEEE);
    std::fill(std::begin(out), std::end(out), int16_t{0x5A5A});
    G711AlawCompress(samples, codes, count);
    G711UlawCompress(samples, codes, count);
    G711AlawExpand(codes, out, count);
    G711UlawExpand(codes, out, count);
    for (uint16_t c : codes) EXPECT_EQ(c, 0xEEEE) << count;
    for (int16_t s : out) EXPECT_EQ(s, 0x5A5A) << count;
  }
}

}  // namespace
}  // namespace zelk
