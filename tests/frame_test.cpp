// Frame layouts byte by byte, as they travel on the wire, against bytes
// worked out by hand; and unpacking as the exact inverse of packing.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "codec/g711/g711.h"
#include "frame/voice_frame.h"
#include "frame_bytes.h"

namespace zelk {
namespace {

using testing::FrameFromBytes;
using testing::LoadWireWord;
using testing::WireBytes;

// The word helpers against the bytes in memory, whatever the host's order.
TEST(FrameLayout, WordsAreLittleEndianBytesOnEveryHost) {
  uint16_t word = 0;
  FrameStoreWord(&word, 0x1234);
  EXPECT_EQ(WireBytes(&word, 1), (std::vector<uint8_t>{0x34, 0x12}));
  const auto frame = FrameFromBytes({0xCD, 0xAB, 0x01, 0x80});
  EXPECT_EQ(FrameLoadWord(&frame[0]), 0xABCD);
  EXPECT_EQ(FrameLoadWord(&frame[1]), 0x8001);
  uint16_t header[2];
  FrameWriteHeader(header, 240);
  EXPECT_EQ(WireBytes(header, 2), (std::vector<uint8_t>{0x00, 0x01, 0xF0, 0x00}));
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
  EXPECT_EQ(LoadWireWord(&frame[2]), 0x23F1);
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
  const auto frame = FrameFromBytes({0x00, 0x01, 0x28, 0x01});
  EXPECT_EQ(FrameLengthByte(frame.data()), 40);
  EXPECT_EQ(FrameHeaderWord(frame.data()), 0x0100);
}

}  // namespace
}  // namespace zelk
