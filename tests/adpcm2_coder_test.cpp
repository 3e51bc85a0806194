// The two-bit ADPCM coder on sequences worked out by hand: the reset record,
// silence, single codes, full-scale first samples, wrapped sums and the tone
// transition.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "adpcm2_independent_reference.h"
#include "codec/adpcm2/adpcm2.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

constexpr unsigned char kSentinel = 0xA5;

// A caller's state block with sentinel bytes everywhere, including the spare
// bytes and the bytes after the record.
struct Block {
  alignas(4) unsigned char bytes[64];
  Block() { std::memset(bytes, kSentinel, sizeof bytes); }
  Adpcm2State Get() const {
    Adpcm2State s;
    std::memcpy(&s, bytes, sizeof s);
    return s;
  }
  void Set(const Adpcm2State& s) { std::memcpy(bytes, &s, sizeof s); }
  bool OutsideFieldsUntouched() const {
    for (size_t i = 46; i < 48; ++i) {
      if (bytes[i] != kSentinel) return false;
    }
    for (size_t i = 52; i < sizeof bytes; ++i) {
      if (bytes[i] != kSentinel) return false;
    }
    return true;
  }
};

Block ResetBlock() {
  Block b;
  Adpcm2Reset(b.bytes);
  return b;
}

struct Encoded {
  std::vector<int> codes;
  std::vector<int> reconstruction;  // the encoder's sr1 after every sample
};

// Encodes sample by sample so that the reconstruction can be read back.
Encoded EncodeTracking(Block& b, const std::vector<int16_t>& pcm) {
  Encoded out;
  for (int16_t s : pcm) {
    uint8_t code = 0xFF;
    Adpcm2EncodeBlock(&s, &code, 1, b.bytes);
    out.codes.push_back(code);
    out.reconstruction.push_back(b.Get().sr1);
  }
  return out;
}

std::vector<int> Decode(const std::vector<uint8_t>& codes) {
  Block b = ResetBlock();
  std::vector<int16_t> pcm(codes.size());
  Adpcm2DecodeBlock(codes.data(), pcm.data(), static_cast<int32_t>(codes.size()), b.bytes);
  return {pcm.begin(), pcm.end()};
}

void ExpectPredictorCleared(const Adpcm2State& s) {
  EXPECT_EQ(s.a1, 0);
  EXPECT_EQ(s.a2, 0);
  for (int16_t b : {s.b1, s.b2, s.b3, s.b4, s.b5, s.b6}) EXPECT_EQ(b, 0);
  EXPECT_EQ(s.td, 0);
  EXPECT_EQ(s.ap, 256);
}

TEST(Adpcm2Coder, ResetWritesEveryFieldAndLeavesTheSpareBytes) {
  Block b;
  std::memset(b.bytes, 0x5A, 52);  // garbage in every field
  std::memset(b.bytes + 46, kSentinel, 2);
  Adpcm2Reset(b.bytes);
  const Adpcm2State s = b.Get();
  const int16_t expected16[23] = {32, 32, 0,  0,  0, 0, 0, 0,   0, 0, 32, 32,
                                  32, 32, 32, 32, 0, 0, 0, 544, 0, 0, 0};
  EXPECT_EQ(std::memcmp(b.bytes, expected16, sizeof expected16), 0);
  EXPECT_EQ(s.yl, 34816);
  EXPECT_TRUE(b.OutsideFieldsUntouched());
}

TEST(Adpcm2Coder, FirstZeroSampleFromReset) {
  Block b = ResetBlock();
  const Encoded e = EncodeTracking(b, {0});
  EXPECT_EQ(e.codes[0], 0);
  const Adpcm2State s = b.Get();
  EXPECT_EQ(s.sr1, 3);
  EXPECT_EQ(s.sr2, 32);
  EXPECT_EQ(s.a1, 192);
  EXPECT_EQ(s.a2, 128);
  for (int16_t c : {s.b1, s.b2, s.b3, s.b4, s.b5, s.b6}) EXPECT_EQ(c, 128);
  EXPECT_EQ(s.dq1, 3);
  for (int16_t h : {s.dq2, s.dq3, s.dq4, s.dq5, s.dq6}) EXPECT_EQ(h, 32);
  EXPECT_EQ(s.dms, 0);
  EXPECT_EQ(s.dml, 0);
  EXPECT_EQ(s.ap, 32);
  EXPECT_EQ(s.yu, 544);
  EXPECT_EQ(s.td, 0);
  EXPECT_EQ(s.p1, 3);
  EXPECT_EQ(s.p2, 0);
  EXPECT_EQ(s.yl, 34816);
  EXPECT_TRUE(b.OutsideFieldsUntouched());
}

TEST(Adpcm2Coder, SilenceFromResetCodesReconstructionAndFrame) {
  Block b = ResetBlock();
  const Encoded e = EncodeTracking(b, std::vector<int16_t>(16, 0));
  EXPECT_EQ(e.codes, (std::vector<int>{0, 3, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0}));
  EXPECT_EQ(e.reconstruction,
            (std::vector<int>{3, -2, 3, 3, -2, 3, 2, 2, 3, 3, 3, 3, 3, -2, 3, 3}));

  // The same through the exported API, as the 24 bytes on the wire.
  VoiceCodecState state;
  ASSERT_EQ(ZELK_VOICE_EncReset(&state, ADPCM_2BIT), VOICE_OK);
  const int16_t silence[80] = {};
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  std::memset(frame, 0xEE, sizeof frame);
  ASSERT_EQ(ZELK_VOICE_EncodeFrame(&state, silence, frame, 80, ADPCM_2BIT), VOICE_OK);
  const unsigned char expected[24] = {0x00, 0x01, 0x0A, 0x00, 0xC0, 0x30, 0x30, 0x00,
                                      0x03, 0x03, 0x0C, 0x0C, 0x30, 0x03, 0x30, 0x0C,
                                      0xC0, 0x30, 0x3C, 0xC0, 0xF0, 0x00, 0xCC, 0x03};
  EXPECT_EQ(std::memcmp(frame, expected, sizeof expected), 0);
  EXPECT_EQ(frame[12], 0xEEEE);  // nothing written past the frame
}

TEST(Adpcm2Coder, DecoderSequencesFromReset) {
  EXPECT_EQ(Decode({0}), std::vector<int>{3});
  EXPECT_EQ(Decode({1}), std::vector<int>{15});
  EXPECT_EQ(Decode({2}), std::vector<int>{-15});
  EXPECT_EQ(Decode({3}), std::vector<int>{-3});
  EXPECT_EQ(Decode(std::vector<uint8_t>(8, 1)), (std::vector<int>{15, 17, 21, 24, 28, 34, 40, 53}));
  EXPECT_EQ(Decode({1, 2, 1, 2, 1, 2, 1, 2}),
            (std::vector<int>{15, -15, 18, -20, 24, -30, 35, -48}));
  EXPECT_EQ(Decode({0, 3, 0, 3, 0, 3, 0, 3}), (std::vector<int>{3, -2, 3, -3, 3, -4, 3, -4}));
  // Only the low two bits of a code byte count.
  EXPECT_EQ(Decode({0xFD, 0x06}), Decode({1, 2}));
}

TEST(Adpcm2Coder, FullScaleFirstSamples) {
  Block low = ResetBlock();
  const Encoded e1 = EncodeTracking(low, {-32768});  // magnitude 0x8000 ranks as small
  EXPECT_EQ(e1.codes[0], 3);
  EXPECT_EQ(e1.reconstruction[0], -3);
  Block high = ResetBlock();
  const Encoded e2 = EncodeTracking(high, {32767});
  EXPECT_EQ(e2.codes[0], 1);
  EXPECT_EQ(e2.reconstruction[0], 15);
}

// A reset record whose first pole carries the previous sample at 1.0, so that
// the signal estimate is exactly `estimate`.
Block EstimateBlock(int16_t estimate) {
  Block b = ResetBlock();
  Adpcm2State s = b.Get();
  s.a1 = 16384;
  s.sr1 = estimate;
  s.sr2 = 0;
  b.Set(s);
  return b;
}

TEST(Adpcm2Coder, DifferenceAndReconstructionWrapInSixteenBits) {
  // -20000 against an estimate of 20000: -40000 wraps to 25536, coded as
  // non-negative and large.
  Block b = EstimateBlock(20000);
  EXPECT_EQ(EncodeTracking(b, {-20000}).codes[0], 1);
  Block same = EstimateBlock(20000);
  EXPECT_EQ(EncodeTracking(same, {20000}).codes[0], 0);

  // -32768 against 32767: the difference wraps to +1 (small, code 0), dq = 3,
  // and 32767 + 3 wraps to -32766 in both the encoder and the decoder.
  Block enc = EstimateBlock(32767);
  const Encoded e = EncodeTracking(enc, {-32768});
  EXPECT_EQ(e.codes[0], 0);
  EXPECT_EQ(e.reconstruction[0], -32766);
  Block dec = EstimateBlock(32767);
  const uint8_t code = 0;
  int16_t out = 0;
  Adpcm2DecodeBlock(&code, &out, 1, dec.bytes);
  EXPECT_EQ(out, -32766);
  EXPECT_EQ(std::memcmp(enc.bytes, dec.bytes, sizeof enc.bytes), 0);
}

TEST(Adpcm2Coder, ConstantInputTriggersTheToneTransition) {
  Block b = ResetBlock();
  std::vector<int> transitions;  // samples (0-based) at which td was set
  for (int i = 0; i < 2000; ++i) {
    const Adpcm2State before = b.Get();
    const int16_t s = 20000;
    uint8_t code;
    Adpcm2EncodeBlock(&s, &code, 1, b.bytes);
    const Adpcm2State after = b.Get();
    if (before.td == 1) {
      ExpectPredictorCleared(after);
      EXPECT_EQ(after.sr2, before.sr1);  // histories run on
      EXPECT_EQ(after.p2, before.p1);
    }
    EXPECT_EQ(after.td == 1, after.a2 < -11776) << i;
    if (after.td == 1) transitions.push_back(i);
  }
  ASSERT_GE(transitions.size(), 2u);
  EXPECT_EQ(transitions[0], 220);  // the 221st sample
  EXPECT_LT(transitions[1] - transitions[0], 1000);
  EXPECT_TRUE(b.OutsideFieldsUntouched());
}

TEST(Adpcm2Coder, ScaleFactorAndSpeedControlRoundDownAsAWhole) {
  // From the reset with yl = 34879 (not a multiple of 64), yu = 600, ap = 100,
  // one sample of 10000 (signal estimate 0), worked by hand:
  //   al = 25, y = (34879 + 56 * 25) >> 6 = 566   (544 + (1400 >> 6) would be 565)
  //   log2(10000) = 1692, dln = 1692 - 141 >= 261: code 1, dql = 506, dq = 15
  //   yu = 566 + ((14048 - 566) >> 5) = 987
  //   yl = 34879 + 987 - 544 = 35322             (34879 + 987 + (-34879 >> 6) = 35321)
  //   dms = dml = 112, |448 - 112| >= 14: fast, ap = 100 - 6 + 32 = 126
  //                                              (100 + ((512 - 100) >> 4) = 125)
  Block b = ResetBlock();
  Adpcm2State s = b.Get();
  s.yl = 34879;
  s.yu = 600;
  s.ap = 100;
  b.Set(s);
  const Encoded e = EncodeTracking(b, {10000});
  EXPECT_EQ(e.codes[0], 1);
  EXPECT_EQ(e.reconstruction[0], 15);
  const Adpcm2State after = b.Get();
  EXPECT_EQ(after.yu, 987);
  EXPECT_EQ(after.yl, 35322);
  EXPECT_EQ(after.dms, 112);
  EXPECT_EQ(after.dml, 112);
  EXPECT_EQ(after.ap, 126);
  EXPECT_EQ(after.a1, 192);
  EXPECT_EQ(after.a2, 128);
  EXPECT_EQ(after.b1, 128);
  EXPECT_EQ(after.dq1, 15);
  EXPECT_EQ(after.p1, 15);

  // The independent reference agrees on the whole record.
  Block ref = ResetBlock();
  ref.Set(s);
  const int16_t x = 10000;
  uint8_t code = 0;
  testing::adpcm2_ref::EncodeBlock(&x, &code, 1, ref.bytes);
  EXPECT_EQ(std::memcmp(ref.bytes, b.bytes, sizeof b.bytes), 0);
}

TEST(Adpcm2Coder, CountIsTheLowSixteenBitsAndNonPositiveDoesNothing) {
  Block b;  // never reset: the record must not even be read
  int16_t pcm[16];
  uint8_t codes[16];
  std::memset(pcm, kSentinel, sizeof pcm);
  std::memset(codes, kSentinel, sizeof codes);
  for (int32_t n : {0, -1, -80, 0x10000, 0x7FFF0000, 0x1FFFF}) {
    Adpcm2EncodeBlock(pcm, codes, n, b.bytes);
    Adpcm2DecodeBlock(codes, pcm, n, b.bytes);
  }
  for (unsigned char c : b.bytes) ASSERT_EQ(c, kSentinel);
  for (uint8_t c : codes) ASSERT_EQ(c, kSentinel);
  for (int16_t s : pcm) ASSERT_EQ(static_cast<uint16_t>(s), 0xA5A5);

  // 0x10008 counts as 8 samples.
  Block full = ResetBlock();
  const int16_t zeros[8] = {};
  Adpcm2EncodeBlock(zeros, codes, 0x10008, full.bytes);
  EXPECT_EQ(codes[7], 0);
  EXPECT_EQ(codes[8], kSentinel);
}

}  // namespace
}  // namespace zelk
