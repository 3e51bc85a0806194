// The two-bit ADPCM building blocks against values worked out by hand and,
// for the logarithm, against its definition row by row over every input.
#include "codec/adpcm2/adpcm2_primitives.h"

#include <gtest/gtest.h>

namespace zelk {
namespace {

// The logarithm as a list of octave rows: inputs 2^e .. 2^(e+1)-1 map onto
// 128 * e plus seven fraction bits, shifted into place row by row.
int32_t Log2ByRows(int32_t x) {
  if (x >= 16384) return (x >> 7) + 1664;
  if (x >= 8192) return (x >> 6) + 1536;
  if (x >= 4096) return (x >> 5) + 1408;
  if (x >= 2048) return (x >> 4) + 1280;
  if (x >= 1024) return (x >> 3) + 1152;
  if (x >= 512) return (x >> 2) + 1024;
  if (x >= 256) return (x >> 1) + 896;
  if (x >= 128) return x + 768;
  if (x >= 64) return 2 * x + 640;
  if (x >= 32) return 4 * x + 512;
  if (x >= 16) return 8 * x + 384;
  if (x >= 8) return 16 * x + 256;
  if (x >= 4) return 32 * x + 128;
  if (x >= 2) return 64 * x;
  return static_cast<int16_t>(128 * x - 128);
}

TEST(Adpcm2Log2, MatchesTheOctaveRowsForEverySixteenBitInput) {
  for (int32_t x = -32768; x <= 32767; ++x) {
    ASSERT_EQ(Adpcm2Log2(static_cast<int16_t>(x)), Log2ByRows(x)) << "x = " << x;
  }
  // Never decreasing over the magnitudes, so a quantiser decision on the
  // logarithm is one on the magnitude.
  for (int32_t x = 1; x <= 32767; ++x) {
    ASSERT_GE(Adpcm2Log2(static_cast<int16_t>(x)), Adpcm2Log2(static_cast<int16_t>(x - 1)));
  }
}

TEST(Adpcm2Log2, HandWorkedValues) {
  const std::pair<int, int> cases[] = {{0, -128},     {1, 0},       {2, 128},     {3, 192},
                                       {7, 352},      {100, 840},   {127, 894},   {128, 896},
                                       {4096, 1536},  {8191, 1663}, {8192, 1664}, {32767, 1919},
                                       {-32768, -128}};
  for (auto [x, expected] : cases) {
    EXPECT_EQ(Adpcm2Log2(static_cast<int16_t>(x)), expected) << "x = " << x;
  }
}

TEST(Adpcm2Quantize, DecisionAtTheThresholdAndSignMirroring) {
  struct Case {
    int dln, negative, code, dqln;
  } cases[] = {{260, 0, 0, 116},   {261, 0, 1, 365},    {261, 1, 2, 365},    {260, 1, 3, 116},
               {-1, 1, 3, 116},    {-32768, 1, 3, 116}, {-32768, 0, 0, 116}, {32767, 0, 1, 365},
               {32767, 1, 2, 365}, {0, 0, 0, 116}};
  for (const Case& c : cases) {
    const Adpcm2Quantized q = Adpcm2Quantize(static_cast<int16_t>(c.dln), c.negative);
    EXPECT_EQ(q.code, c.code) << c.dln << " " << c.negative;
    EXPECT_EQ(q.dqln, c.dqln) << c.dln << " " << c.negative;
  }
}

TEST(Adpcm2Tables, PerCodeWeightsMirrorForNegativeCodes) {
  const int f[4] = {0, 7, 7, 0}, w[4] = {-22, 439, 439, -22}, dqln[4] = {116, 365, 365, 116};
  for (int code = 0; code < 4; ++code) {
    EXPECT_EQ(ADPCM2_F_TABLE[Adpcm2WeightIndex(code)], f[code]);
    EXPECT_EQ(ADPCM2_W_TABLE[Adpcm2WeightIndex(code)], w[code]);
    EXPECT_EQ(ADPCM2_DQLN_TABLE[code], dqln[code]);
  }
}

TEST(Adpcm2Reconstruct, HandWorkedValuesAndOutOfRangeLogs) {
  const std::pair<int, int> cases[] = {
      {252, 3},  {383, 7},  {384, 8}, {521, 17},  {1396, 1952}, {1645, 7584}, {1919, 32640},
      {1920, 0}, {4095, 0}, {-1, 0},  {-2176, 0}, {0, 1},       {4096, 1},    {-2177, 32640}};
  for (auto [dql, magnitude] : cases) {
    EXPECT_EQ(Adpcm2Reconstruct(static_cast<int16_t>(dql), 0), magnitude) << dql;
    EXPECT_EQ(Adpcm2Reconstruct(static_cast<int16_t>(dql), 1), -magnitude) << dql;
  }
}

TEST(Adpcm2Reconstruct, InvertsTheLogarithmWithinOneStep) {
  // Over the coder's range, the Q7 log of the reconstructed magnitude is at
  // most one Q7 step of truncation below dql.
  for (int dql = 252; dql <= 1645; ++dql) {
    const int32_t magnitude = Adpcm2Reconstruct(static_cast<int16_t>(dql), 0);
    const int32_t back = Adpcm2Log2(static_cast<int16_t>(magnitude));
    ASSERT_LE(back, dql) << dql;
    if (dql >= 7 * 128) {
      ASSERT_EQ(back, dql) << dql;  // the shift loses no fraction bit
    }
  }
  // Every dql reconstructs without touching memory, for all 16-bit values.
  for (int dql = -32768; dql <= 32767; ++dql) {
    const int32_t m = Adpcm2Reconstruct(static_cast<int16_t>(dql), 0);
    ASSERT_TRUE(m >= 0 && m <= 32640) << dql;
  }
}

TEST(Adpcm2UpdatePole2, HandWorkedValues) {
  EXPECT_EQ(Adpcm2UpdatePole2(0, 0, 0, 0, 0), 128);
  // Candidate 12489 is limited; p = 0 counts as non-negative.
  EXPECT_EQ(Adpcm2UpdatePole2(-1, 0, 12200, 20000, 0), 12288);
  EXPECT_EQ(Adpcm2UpdatePole2(-1, 0, 12200, 20000, 1), 12288);
  // t = -4096 + 3000 = -1096, shifted as a whole to -35 (rounding down).
  EXPECT_EQ(Adpcm2UpdatePole2(5, 5, -100, 3000, -1), -134);
  // a1 limited to -8192 before it enters t.
  EXPECT_EQ(Adpcm2UpdatePole2(5, -5, 0, -9000, 1), 128);
  // Lower limit, and extreme out-of-range coefficients stay defined.
  EXPECT_EQ(Adpcm2UpdatePole2(1, 1, -12288, -8192, -1), -12288);
  EXPECT_EQ(Adpcm2UpdatePole2(1, 1, 32767, -32768, 1), 12288);
  EXPECT_EQ(Adpcm2UpdatePole2(1, -1, -32768, 32767, 1), -12288);
}

}  // namespace
}  // namespace zelk
