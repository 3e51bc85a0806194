// The exported functions: every check in its order with its status code, and
// the promise that a failed call changes nothing, proved with sentinel-filled
// state blocks and buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "codec/g711/g711.h"
#include "frame_bytes.h"
#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace {

constexpr uint8_t kStateSentinel = 0xA5;
constexpr uint16_t kFrameSentinel = 0xBEEF;
constexpr int16_t kPcmSentinel = 0x3C3C;
constexpr int kCodecs[] = {G711_ALAW, G711_ULAW, IMA_ADPCM, ADPCM_2BIT};

// A state block, a frame and a PCM buffer with room to spare, all sentinel-filled.
struct Buffers {
  alignas(4) std::array<uint8_t, 64> state;
  std::array<uint16_t, 300> frame;
  std::array<int16_t, 600> pcm;
  Buffers() { Fill(); }
  void Fill() {
    state.fill(kStateSentinel);
    frame.fill(kFrameSentinel);
    pcm.fill(kPcmSentinel);
  }
  bool StateUntouched() const {
    for (uint8_t b : state) {
      if (b != kStateSentinel) return false;
    }
    return true;
  }
  // Index of the first changed word at or after `from`, or -1.
  int FrameChangedFrom(size_t from) const {
    for (size_t i = from; i < frame.size(); ++i) {
      if (frame[i] != kFrameSentinel) return static_cast<int>(i);
    }
    return -1;
  }
  int PcmChangedFrom(size_t from) const {
    for (size_t i = from; i < pcm.size(); ++i) {
      if (pcm[i] != kPcmSentinel) return static_cast<int>(i);
    }
    return -1;
  }
};

int PayloadWords(int codec, int samples) {
  return samples / (codec == IMA_ADPCM ? 4 : codec == ADPCM_2BIT ? 8 : 2);
}

// A valid frame of `samples` samples for `codec`, from a freshly reset encoder.
std::vector<uint16_t> ValidFrame(int codec, int samples) {
  VoiceCodecState enc;
  EXPECT_EQ(ZELK_VOICE_EncReset(&enc, codec), VOICE_OK);
  const auto pcm = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 480, 3);
  std::vector<uint16_t> frame(ZELK_VOICE_MAX_FRAME_WORDS);
  EXPECT_EQ(ZELK_VOICE_EncodeFrame(&enc, pcm.data(), frame.data(), samples, codec), VOICE_OK);
  frame.resize(2 + static_cast<size_t>(PayloadWords(codec, samples)));
  return frame;
}

// The version is a fixed number that hosts compare with; written out here in
// both forms rather than taken from the header that the library also uses.
TEST(Api, VersionAndClassStyleExports) {
  EXPECT_EQ(ZELK_VOICE_GetVersionNumber(), 131490225u);
  EXPECT_EQ(ZELK_VOICE_GetVersionNumber(), 0x07D661B1u);
  EXPECT_EQ(fnZelk_voice_engine(), 42);
  EXPECT_EQ(nZelk_voice_engine, 0);
  EXPECT_EQ(sizeof(CZelk_voice_engine), 1u);
  EXPECT_EQ(sizeof(VoiceCodecState), 52u);
  EXPECT_EQ(alignof(VoiceCodecState), 4u);
}

struct EncodeCase {
  bool state, pcm, frame;
  int32_t samples, codec;
  uint32_t expected;
};

TEST(ApiEncode, ChecksRunInOrderAndFailuresTouchNothing) {
  const EncodeCase cases[] = {
      {false, false, false, 0, 0, VOICE_ERR_NULL_STATE},  // nulls come first
      {false, true, true, 160, 1, VOICE_ERR_NULL_STATE},
      {true, false, false, 0, 0, VOICE_ERR_NULL_INPUT},
      {true, true, false, 0, 0, VOICE_ERR_NULL_OUTPUT},
      {true, true, true, 0, 0, VOICE_ERR_ENC_LENGTH},  // length before type
      {true, true, true, 0, 1, VOICE_ERR_ENC_LENGTH},
      {true, true, true, 79, 1, VOICE_ERR_ENC_LENGTH},
      {true, true, true, 81, 1, VOICE_ERR_ENC_LENGTH},
      {true, true, true, 560, 1, VOICE_ERR_ENC_LENGTH},
      {true, true, true, -80, 1, VOICE_ERR_ENC_LENGTH},
      {true, true, true, 0x1FFB0, 1, VOICE_ERR_ENC_LENGTH},  // low 16 bits are -80
      {true, true, true, 0x10000, 1, VOICE_ERR_ENC_LENGTH},  // low 16 bits are 0
      {true, true, true, 80, 0, VOICE_ERR_ENC_TYPE},
      {true, true, true, 80, 5, VOICE_ERR_ENC_TYPE},
      {true, true, true, 80, -1, VOICE_ERR_ENC_TYPE},
      {true, true, true, 80, 0x10000, VOICE_ERR_ENC_TYPE},  // low 16 bits are 0
  };
  const auto pcm = zelk::testing::MakeSignal(zelk::testing::Signal::kNoise, 600, 1);
  for (const EncodeCase& c : cases) {
    Buffers b;
    const uint32_t status =
        ZELK_VOICE_EncodeFrame(c.state ? b.state.data() : nullptr, c.pcm ? pcm.data() : nullptr,
                               c.frame ? b.frame.data() : nullptr, c.samples, c.codec);
    EXPECT_EQ(status, c.expected) << c.samples << " " << c.codec;
    EXPECT_TRUE(b.StateUntouched());
    EXPECT_EQ(b.FrameChangedFrom(0), -1);
  }
}

// Success writes exactly 2 + L words, and only the state bytes the codec owns.
TEST(ApiEncode, WritesExactlyTheFrameForEveryCodecAndSize) {
  const auto pcm = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 480, 2);
  for (int codec : kCodecs) {
    for (int n = 80; n <= 480; n += 80) {
      Buffers b;
      ASSERT_EQ(ZELK_VOICE_EncReset(b.state.data(), codec), VOICE_OK);
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(b.state.data(), pcm.data(), b.frame.data(), n, codec),
                VOICE_OK);
      const int words = PayloadWords(codec, n);
      EXPECT_EQ(zelk::testing::LoadWireWord(&b.frame[0]), 0x0100);
      EXPECT_EQ(zelk::testing::LoadWireWord(&b.frame[1]), words);
      EXPECT_EQ(b.FrameChangedFrom(2 + static_cast<size_t>(words)), -1) << codec << " " << n;
      // Bytes past the 52-byte block are never the codec's.
      for (size_t i = 52; i < b.state.size(); ++i) EXPECT_EQ(b.state[i], kStateSentinel);
    }
  }
}

TEST(ApiEncode, UpperBitsOfCountAndTypeAreIgnored) {
  const auto pcm = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 480, 4);
  Buffers plain, wide;
  ASSERT_EQ(ZELK_VOICE_EncodeFrame(plain.state.data(), pcm.data(), plain.frame.data(), 80, 1),
            VOICE_OK);
  ASSERT_EQ(
      ZELK_VOICE_EncodeFrame(wide.state.data(), pcm.data(), wide.frame.data(),
                             static_cast<int32_t>(0x7ABC0050), static_cast<int32_t>(0xFFFF0001)),
      VOICE_OK);
  EXPECT_EQ(plain.frame, wide.frame);
}

// A frame's L, the samples it carries, and the status the checks give it.
struct DecodeCase {
  uint16_t header, length;
  int32_t codec;
  uint32_t expected;
};

TEST(ApiDecode, ChecksRunInOrderAndFailuresOnlyClearTheCount) {
  const DecodeCase cases[] = {
      {0x0000, 40, 1, VOICE_ERR_DEC_HEADER},  // header before length and type
      {0x0200, 0, 0, VOICE_ERR_DEC_HEADER},
      {0x0300, 40, 1, VOICE_ERR_DEC_HEADER},
      {0x0100, 0, 0, VOICE_ERR_DEC_LENGTH},       // zero length byte before type
      {0x0100, 0xFF00, 1, VOICE_ERR_DEC_LENGTH},  // only the low byte counts
      {0x0100, 40, 0, VOICE_ERR_DEC_TYPE},        // good length byte, bad type
      {0x0100, 40, 5, VOICE_ERR_DEC_TYPE},
      {0x0100, 50, 1, VOICE_ERR_DEC_LENGTH},  // 100 samples
      {0x0100, 241, 2, VOICE_ERR_DEC_LENGTH},
      {0x0100, 121, 3, VOICE_ERR_DEC_LENGTH},
      {0x0100, 61, 4, VOICE_ERR_DEC_LENGTH},
      {0x0100, 15, 4, VOICE_ERR_DEC_LENGTH},
  };
  for (const DecodeCase& c : cases) {
    Buffers b;
    std::vector<uint16_t> frame(300, 0x5555);
    zelk::testing::StoreWireWord(&frame[0], c.header);
    zelk::testing::StoreWireWord(&frame[1], c.length);
    int16_t count = 1234;
    const uint32_t status =
        ZELK_VOICE_DecodeFrame(b.state.data(), frame.data(), b.pcm.data(), c.codec, &count);
    EXPECT_EQ(status, c.expected) << std::hex << c.header << " " << c.length << " " << c.codec;
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(b.StateUntouched());
    EXPECT_EQ(b.PcmChangedFrom(0), -1);
  }
}

TEST(ApiDecode, NullPointersAreReportedInOrderAndTheCountIsStillCleared) {
  Buffers b;
  const auto frame = ValidFrame(G711_ALAW, 160);
  int16_t count = 77;
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(nullptr, nullptr, nullptr, 1, &count), VOICE_ERR_NULL_STATE);
  EXPECT_EQ(count, 0);
  count = 77;
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), nullptr, nullptr, 1, &count),
            VOICE_ERR_NULL_INPUT);
  EXPECT_EQ(count, 0);
  count = 77;
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), frame.data(), nullptr, 1, &count),
            VOICE_ERR_NULL_OUTPUT);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(b.StateUntouched());
}

// A null count pointer is never written through: the other null checks keep
// their order, then the call is refused before the frame is examined.
TEST(ApiDecode, NullCountPointerIsRefusedNotWritten) {
  Buffers b;
  const auto frame = ValidFrame(G711_ALAW, 160);
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(nullptr, frame.data(), b.pcm.data(), 1, nullptr),
            VOICE_ERR_NULL_STATE);
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), nullptr, b.pcm.data(), 1, nullptr),
            VOICE_ERR_NULL_INPUT);
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), frame.data(), nullptr, 1, nullptr),
            VOICE_ERR_NULL_OUTPUT);
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), frame.data(), b.pcm.data(), 1, nullptr),
            VOICE_ERR_NULL_OUTPUT);
  const uint16_t badHeader[2] = {0x0000, 0};  // refused before the header is looked at
  EXPECT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), badHeader, b.pcm.data(), 9, nullptr),
            VOICE_ERR_NULL_OUTPUT);
  EXPECT_TRUE(b.StateUntouched());
  EXPECT_EQ(b.PcmChangedFrom(0), -1);
}

TEST(ApiDecode, WritesExactlyTheSamplesForEveryCodecAndSize) {
  for (int codec : kCodecs) {
    for (int n = 80; n <= 480; n += 80) {
      Buffers b;
      const auto frame = ValidFrame(codec, n);
      ASSERT_EQ(ZELK_VOICE_DecReset(b.state.data(), codec), VOICE_OK);
      int16_t count = 0;
      ASSERT_EQ(ZELK_VOICE_DecodeFrame(
                    b.state.data(), frame.data(), b.pcm.data(),
                    static_cast<int32_t>(0xABCD0000u | static_cast<unsigned>(codec)), &count),
                VOICE_OK);
      EXPECT_EQ(count, n);
      EXPECT_EQ(b.PcmChangedFrom(static_cast<size_t>(n)), -1) << codec << " " << n;
      for (size_t i = 52; i < b.state.size(); ++i) EXPECT_EQ(b.state[i], kStateSentinel);
    }
  }
}

// Only bits 8-9 of the header and the low byte of the length word count.
TEST(ApiDecode, IgnoredHeaderAndLengthBitsDoNotChangeTheResult) {
  const auto frame = ValidFrame(G711_ULAW, 80);
  Buffers reference;
  int16_t count = 0;
  ASSERT_EQ(
      ZELK_VOICE_DecodeFrame(reference.state.data(), frame.data(), reference.pcm.data(), 2, &count),
      VOICE_OK);
  for (uint16_t header : {0x1100, 0xFD01, 0x0101}) {
    auto variant = frame;
    zelk::testing::StoreWireWord(&variant[0], header);
    zelk::testing::StoreWireWord(&variant[1], 0x0128);  // L = 40 with a stray high byte
    Buffers b;
    ASSERT_EQ(ZELK_VOICE_DecodeFrame(b.state.data(), variant.data(), b.pcm.data(), 2, &count),
              VOICE_OK);
    EXPECT_EQ(count, 80);
    EXPECT_EQ(b.pcm, reference.pcm);
  }
}

TEST(ApiReset, G711LeavesTheBlockAloneAndBadTypesAreRefused) {
  for (auto reset : {&ZELK_VOICE_EncReset, &ZELK_VOICE_DecReset}) {
    const uint32_t badType =
        reset == &ZELK_VOICE_EncReset ? VOICE_ERR_ENC_TYPE : VOICE_ERR_DEC_TYPE;
    Buffers b;
    EXPECT_EQ(reset(nullptr, 1), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(reset(nullptr, 0), VOICE_ERR_NULL_STATE);
    for (int32_t codec : {1, 2, 0x70001}) EXPECT_EQ(reset(b.state.data(), codec), VOICE_OK);
    for (int32_t codec : {0, 5, -1, 0x10000}) EXPECT_EQ(reset(b.state.data(), codec), badType);
    EXPECT_TRUE(b.StateUntouched());
  }
}

// G.711 through the API agrees with the codec's own functions for every sample.
TEST(ApiRoundTrip, G711FramesCarryEverySample) {
  for (int codec : {G711_ALAW, G711_ULAW}) {
    VoiceCodecState enc, dec;
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    int16_t out[480];
    for (int start = -32768; start < 32768; start += 480) {
      int16_t in[480];
      for (int i = 0; i < 480; ++i) in[i] = static_cast<int16_t>(start + i);
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, in, frame, 480, codec), VOICE_OK);
      int16_t count = 0;
      ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, frame, out, codec, &count), VOICE_OK);
      for (int i = 0; i < 480; ++i) {
        const uint8_t code = codec == G711_ALAW ? zelk::G711AlawCompressSample(in[i])
                                                : zelk::G711UlawCompressSample(in[i]);
        const auto& table =
            codec == G711_ALAW ? zelk::G711_ALAW_EXPAND_TABLE : zelk::G711_ULAW_EXPAND_TABLE;
        ASSERT_EQ(out[i], table[code]) << in[i];
      }
    }
  }
}

}  // namespace
