// A-law <-> mu-law through G.711's conversion tables: all 256 codes each way
// against the properties the tables are built for, and the codes where they
// differ from decoding with the engine and coding the sample again, listed
// one by one (the README carries the same list).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "frame_bytes.h"
#include "rtp_test_support.h"

namespace {

uint8_t UlawToAlaw(uint8_t code) {
  uint8_t out = 0;
  EXPECT_EQ(ZELK_RTP_UlawToAlaw(&code, 1, &out, 1), ZELK_RTP_OK);
  return out;
}

uint8_t AlawToUlaw(uint8_t code) {
  uint8_t out = 0;
  EXPECT_EQ(ZELK_RTP_AlawToUlaw(&code, 1, &out, 1), ZELK_RTP_OK);
  return out;
}

// The engine's expansion of one code, and its coding of one sample.
int16_t Expand(int32_t codec, uint8_t code) {
  uint16_t frame[42];
  zelk::testing::StoreWireWord(&frame[0], 0x0100);  // frame words are little-endian bytes
  zelk::testing::StoreWireWord(&frame[1], 40);
  for (int i = 2; i < 42; ++i) frame[i] = static_cast<uint16_t>(code << 8 | code);
  int16_t pcm[80], count = 0;
  VoiceCodecState state;
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(&state, frame, pcm, codec, &count), VOICE_OK);
  return pcm[0];
}

uint8_t Compress(int32_t codec, int16_t sample) {
  int16_t pcm[80];
  for (int16_t& s : pcm) s = sample;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  VoiceCodecState state;
  EXPECT_EQ(ZELK_VOICE_EncodeFrame(&state, pcm, frame, 80, codec), VOICE_OK);
  return static_cast<uint8_t>(zelk::testing::LoadWireWord(&frame[2]) >> 8);
}

// Magnitude numbers as G.711 counts them: mu-law 0..127, A-law 1..128.
int UlawNumber(uint8_t code) { return ~code & 0x7F; }
int AlawNumber(uint8_t code) { return ((code ^ 0x55) & 0x7F) + 1; }

TEST(Transcode, SignPassesAndMagnitudeOrderIsKept) {
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    EXPECT_EQ(UlawToAlaw(code) & 0x80, code & 0x80) << c;
    EXPECT_EQ(AlawToUlaw(code) & 0x80, code & 0x80) << c;
    // The two signs of one magnitude map alike.
    EXPECT_EQ(UlawToAlaw(code) ^ UlawToAlaw(code ^ 0x80), 0x80) << c;
    EXPECT_EQ(AlawToUlaw(code) ^ AlawToUlaw(code ^ 0x80), 0x80) << c;
  }
  // Larger magnitudes never map to smaller ones, and the ends meet the ends.
  int previousA = 0, previousU = -1;
  for (int n = 0; n <= 127; ++n) {
    const int a = AlawNumber(UlawToAlaw(static_cast<uint8_t>(0xFF ^ n)));
    EXPECT_GE(a, previousA) << n;
    previousA = a;
  }
  for (int a = 1; a <= 128; ++a) {
    const int u = UlawNumber(AlawToUlaw(static_cast<uint8_t>(0xD5 ^ (a - 1))));
    EXPECT_GE(u, previousU) << a;
    previousU = u;
  }
  EXPECT_EQ(UlawToAlaw(0x80), 0xAA);  // full scale
  EXPECT_EQ(UlawToAlaw(0x00), 0x2A);
  EXPECT_EQ(AlawToUlaw(0xAA), 0x80);
  EXPECT_EQ(AlawToUlaw(0x2A), 0x00);
  EXPECT_EQ(UlawToAlaw(0xFF), 0xD5);  // zero goes to the smallest A-law level
  EXPECT_EQ(UlawToAlaw(0x7F), 0x55);  // negative zero keeps its sign
  EXPECT_EQ(AlawToUlaw(0xD5), 0xFE);  // A-law's smallest level is mu-law's first step
}

// Wherever A-law is no coarser than mu-law (mu-law numbers 16..127), a mu-law
// code survives the trip through A-law and back unchanged; below that two
// mu-law levels share each A-law level.
TEST(Transcode, MuLawRoundTripIsTransparentWhereALawIsFiner) {
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    const uint8_t back = AlawToUlaw(UlawToAlaw(code));
    if (UlawNumber(code) >= 16) {
      EXPECT_EQ(back, code) << c;
    } else {
      EXPECT_EQ(UlawNumber(back), UlawNumber(code) | 1) << c;
    }
  }
}

// The rows of the tables where they are not a plain shift of numbers.
TEST(Transcode, TableRowsByNumber) {
  const auto ulaw = [](int n) { return static_cast<uint8_t>(0xFF ^ n); };
  const auto alaw = [](int a) { return static_cast<uint8_t>(0xD5 ^ (a - 1)); };
  const std::map<int, int> uToA = {{0, 1},   {1, 1},   {15, 8},  {16, 9},  {31, 24},
                                   {32, 25}, {33, 27}, {34, 29}, {35, 31}, {36, 33},
                                   {47, 44}, {48, 46}, {49, 48}, {50, 49}, {63, 62},
                                   {64, 64}, {79, 79}, {80, 80}, {81, 82}, {127, 128}};
  for (const auto& [n, a] : uToA) EXPECT_EQ(UlawToAlaw(ulaw(n)), alaw(a)) << "mu " << n;
  const std::map<int, int> aToU = {{1, 1},   {2, 3},   {8, 15},  {9, 16},  {24, 31}, {25, 32},
                                   {26, 32}, {31, 35}, {32, 35}, {33, 36}, {44, 47}, {45, 48},
                                   {46, 48}, {47, 49}, {48, 49}, {49, 50}, {62, 63}, {63, 64},
                                   {64, 64}, {65, 65}, {80, 80}, {81, 80}, {82, 81}, {128, 127}};
  for (const auto& [a, u] : aToU) EXPECT_EQ(AlawToUlaw(alaw(a)), ulaw(u)) << "A " << a;
}

// Where the tables and "expand with the engine, compress again" part: the
// table's code for each such input code. Everywhere else they agree.
TEST(Transcode, CodesWhereTheTablesDifferFromReEncoding) {
  std::map<int, int> uToA;
  const int segment5[15] = {0x0A, 0x0B, 0x08, 0x09, 0x0E, 0x0F, 0x0C, 0x0D,
                            0x02, 0x03, 0x00, 0x01, 0x06, 0x07, 0x04};
  for (int i = 0; i < 15; ++i) {
    uToA[0x20 + i] = segment5[i];
    uToA[0xA0 + i] = segment5[i] | 0x80;
  }
  for (auto [u, a] : {std::pair{0x3F, 0x6A}, {0x4E, 0x7A}, {0x4F, 0x78}}) {
    uToA[u] = a;
    uToA[u | 0x80] = a | 0x80;
  }
  for (auto [u, a] : {std::pair{0x71, 0x52},
                      {0x73, 0x53},
                      {0x75, 0x50},
                      {0x77, 0x51},
                      {0x79, 0x56},
                      {0x7B, 0x57},
                      {0x7D, 0x54},
                      {0x7F, 0x55}}) {
    uToA[u] = a;
  }
  std::map<int, int> aToU;
  const int alawSegment5[16] = {0x2A, 0x2B, 0x28, 0x29, 0x2E, 0x2F, 0x2C, 0x2D,
                                0x22, 0x23, 0x20, 0x21, 0x26, 0x27, 0x24, 0x25};
  for (int i = 0; i < 16; ++i) {
    aToU[i] = alawSegment5[i];
    aToU[0x80 + i] = alawSegment5[i] | 0x80;
  }
  ASSERT_EQ(uToA.size(), 44u);
  ASSERT_EQ(aToU.size(), 32u);

  std::map<int, int> uFound, aFound;
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    const uint8_t table = UlawToAlaw(code);
    if (table != Compress(G711_ALAW, Expand(G711_ULAW, code))) uFound[c] = table;
    const uint8_t other = AlawToUlaw(code);
    if (other != Compress(G711_ULAW, Expand(G711_ALAW, code))) aFound[c] = other;
  }
  EXPECT_EQ(uFound, uToA);
  EXPECT_EQ(aFound, aToU);
  // Where they differ, the table sits one level from re-encoding; only mu-law's
  // negative zero instead keeps its sign (re-encoding its 0 gives +8).
  for (const auto& [u, a] : uToA) {
    const uint8_t again = Compress(G711_ALAW, Expand(G711_ULAW, static_cast<uint8_t>(u)));
    const int levels = std::abs(AlawNumber(static_cast<uint8_t>(a)) - AlawNumber(again));
    EXPECT_EQ(levels, u == 0x7F ? 0 : 1) << u;
  }
  for (const auto& [a, u] : aToU) {
    const uint8_t again = Compress(G711_ULAW, Expand(G711_ALAW, static_cast<uint8_t>(a)));
    EXPECT_EQ(std::abs(UlawNumber(static_cast<uint8_t>(u)) - UlawNumber(again)), 1) << a;
  }
}

TEST(Transcode, BuffersAndRefusals) {
  std::vector<uint8_t> codes(256);
  for (int c = 0; c < 256; ++c) codes[static_cast<size_t>(c)] = static_cast<uint8_t>(c);
  std::vector<uint8_t> inPlace = codes;
  ASSERT_EQ(ZELK_RTP_UlawToAlaw(inPlace.data(), 256, inPlace.data(), 256), ZELK_RTP_OK);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(inPlace[static_cast<size_t>(c)], UlawToAlaw(codes[c]));

  zelk::rtp_test::Guarded<uint8_t> out(256, 0x5A);
  EXPECT_EQ(ZELK_RTP_AlawToUlaw(codes.data(), 0, out.data(), 0), ZELK_RTP_OK);
  EXPECT_TRUE(out.Untouched());
  EXPECT_EQ(ZELK_RTP_AlawToUlaw(nullptr, 1, out.data(), 1), ZELK_RTP_ERR_NULL_INPUT);
  EXPECT_EQ(ZELK_RTP_UlawToAlaw(nullptr, 0, nullptr, 0), ZELK_RTP_ERR_NULL_INPUT);
  EXPECT_EQ(ZELK_RTP_UlawToAlaw(codes.data(), 1, nullptr, 1), ZELK_RTP_ERR_NULL_OUTPUT);
  EXPECT_EQ(ZELK_RTP_AlawToUlaw(codes.data(), 256, out.data(), 255), ZELK_RTP_ERR_CAPACITY);
  EXPECT_EQ(ZELK_RTP_UlawToAlaw(codes.data(), 2, out.data(), 1), ZELK_RTP_ERR_CAPACITY);
  EXPECT_TRUE(out.Untouched());
  ASSERT_EQ(ZELK_RTP_AlawToUlaw(codes.data(), 100, out.data(), 256), ZELK_RTP_OK);
  EXPECT_TRUE(out.GuardUntouched(100));
}

}  // namespace
