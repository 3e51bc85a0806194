// Frame layouts byte by byte, as they travel on the wire, against bytes
// worked out by hand; and unpacking as the exact inverse of packing.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "codec/g711/g711.h"
#include "frame/voice_frame.h"

namespace zelk {
namespace {

std::vector<uint8_t> WireBytes(const uint16_t* frame, size_t words) {
  std::vector<uint8_t> bytes(words * 2);
  std::memcpy(bytes.data(), frame, bytes.size());
  return bytes;
}

TEST(FrameLayout, G711EarlierCodeInTheHighByte) {
  // Decoded values code back to themselves, so these samples give codes 3A, 3B, .., D5.
  std::vector<int16_t> pcm(80, 0);
  pcm[0] = G711_ALAW_EXPAND_TABLE[0x3A];
  pcm[1] = G711_ALAW_EXPAND_TABLE[0x3B];
  pcm[79] = G711_ALAW_EXPAND_TABLE[0xFF];
  uint16_t frame[FRAME_MAX_WORDS] = {};
  G711EncodeFrame(pcm.data(), 80, 1, frame);
  const auto bytes = WireBytes(frame, 42);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6)),
            (std::vector<uint8_t>{0x00, 0x01, 0x28, 0x00, 0x3B, 0x3A}));
  EXPECT_EQ(bytes[82], 0xFF);  // sample 79 is the later code of the last word
  EXPECT_EQ(bytes[83], 0xD5);  // sample 78, a zero
}

TEST(FrameLayout, ImaBytesInTimeOrderEarlierCodeInTheHighNibble) {
  std::vector<uint8_t> codeBytes(40, 0);
  codeBytes[0] = 0xF1;  // codes F, 1
  codeBytes[1] = 0x23;  // codes 2, 3
  uint16_t frame[FRAME_MAX_WORDS] = {};
  FramePackIma(codeBytes.data(), 80, frame);
  const auto bytes = WireBytes(frame, 22);
  EXPECT_EQ(bytes.size(), 44u);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6)),
            (std::vector<uint8_t>{0x00, 0x01, 0x14, 0x00, 0xF1, 0x23}));
  // Read as a word: c[0] in bits 4-7, c[1] 0-3, c[2] 12-15, c[3] 8-11.
  EXPECT_EQ(frame[2], 0x23F1);
}

TEST(FrameLayout, TwoBitEarliestCodeInTheTopBits) {
  std::vector<uint8_t> codes(80, 0);
  const uint8_t first[8] = {3, 0, 1, 2, 2, 1, 0, 3};
  std::copy(first, first + 8, codes.begin());
  uint16_t frame[FRAME_MAX_WORDS] = {};
  FramePackAdpcm2(codes.data(), 80, frame);
  const auto bytes = WireBytes(frame, 12);
  EXPECT_EQ(bytes.size(), 24u);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6)),
            (std::vector<uint8_t>{0x00, 0x01, 0x0A, 0x00, 0x93, 0xC6}));
}

// Packing writes exactly 2 + L words; unpacking returns the codes packed,
// each masked to its width, for every legal size. (G.711's pairs are swept
// exhaustively with its coder.)
TEST(FrameLayout, UnpackInvertsPackAndStaysInBounds) {
  std::mt19937 rng(11);
  for (int n = 80; n <= 480; n += 80) {
    std::vector<uint8_t> ima(static_cast<size_t>(n / 2)), two(static_cast<size_t>(n));
    for (auto& c : ima) c = static_cast<uint8_t>(rng());
    for (auto& c : two) c = static_cast<uint8_t>(rng() & 3);

    std::vector<uint16_t> frame(FRAME_MAX_WORDS + 4, 0xBEEF);
    FramePackIma(ima.data(), n, frame.data());
    EXPECT_EQ(frame[static_cast<size_t>(2 + n / 4)], 0xBEEF);
    std::vector<uint8_t> imaBack(static_cast<size_t>(n / 2));
    FrameUnpackIma(frame.data(), imaBack.data());
    EXPECT_EQ(imaBack, ima);

    std::fill(frame.begin(), frame.end(), 0xBEEF);
    FramePackAdpcm2(two.data(), n, frame.data());
    EXPECT_EQ(frame[static_cast<size_t>(2 + n / 8)], 0xBEEF);
    std::vector<uint8_t> twoBack(static_cast<size_t>(n));
    FrameUnpackAdpcm2(frame.data(), twoBack.data());
    EXPECT_EQ(twoBack, two);
  }
}

TEST(FrameLayout, ReaderUsesOnlyHeaderBits8To9AndTheLowLengthByte) {
  for (uint16_t header : {0x0100, 0x1100, 0xFD01, 0x0101}) EXPECT_TRUE(FrameHeaderValid(header));
  for (uint16_t header : {0x0000, 0x0200, 0x0300, 0xFCFF}) EXPECT_FALSE(FrameHeaderValid(header));
  const uint16_t frame[2] = {0x0100, 0x0128};
  EXPECT_EQ(FrameLengthByte(frame), 40);
}

}  // namespace
}  // namespace zelk
