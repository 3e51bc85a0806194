// RTP payloads: bytes worked out by hand, agreement with the engine's own
// frames for every codec and frame size, DVI4 resynchronisation, and every
// refused argument leaving every buffer and block as it was.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "frame_bytes.h"
#include "rtp_test_support.h"
#include "test_signals.h"

namespace {

using zelk::rtp_test::ALL_CODECS;
using zelk::rtp_test::Block;
using zelk::rtp_test::FRAME_SIZES;
using zelk::rtp_test::Guarded;

std::vector<uint8_t> Encode(Block& enc, const int16_t* pcm, int32_t n, int32_t codec) {
  std::vector<uint8_t> payload(ZELK_RTP_MAX_PAYLOAD_BYTES);
  size_t bytes = 0;
  EXPECT_EQ(
      ZELK_RTP_EncodePayload(enc.data(), pcm, n, codec, payload.data(), payload.size(), &bytes),
      ZELK_RTP_OK);
  payload.resize(bytes);
  return payload;
}

std::vector<int16_t> Decode(Block& dec, const std::vector<uint8_t>& payload, int32_t codec) {
  std::vector<int16_t> pcm(ZELK_VOICE_MAX_SAMPLES);
  size_t n = 0;
  EXPECT_EQ(ZELK_RTP_DecodePayload(dec.data(), payload.data(), payload.size(), codec, pcm.data(),
                                   pcm.size(), &n),
            ZELK_RTP_OK);
  pcm.resize(n);
  return pcm;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  return std::vector<uint8_t>(list.begin(), list.end());
}

TEST(PayloadSizes, EveryCodecAndCount) {
  for (int32_t n : FRAME_SIZES) {
    EXPECT_EQ(ZELK_RTP_PayloadBytes(G711_ALAW, n), static_cast<size_t>(n));
    EXPECT_EQ(ZELK_RTP_PayloadBytes(G711_ULAW, n), static_cast<size_t>(n));
    EXPECT_EQ(ZELK_RTP_PayloadBytes(IMA_ADPCM, n), static_cast<size_t>(4 + n / 2));
    EXPECT_EQ(ZELK_RTP_PayloadBytes(ADPCM_2BIT, n), static_cast<size_t>(n / 4));
    for (int32_t codec : ALL_CODECS) {
      EXPECT_EQ(ZELK_RTP_PayloadSamples(codec, ZELK_RTP_PayloadBytes(codec, n)), n);
    }
  }
  // G.711 takes any block of 1..480; the coders with memory only frame sizes.
  EXPECT_EQ(ZELK_RTP_PayloadBytes(G711_ULAW, 1), 1u);
  EXPECT_EQ(ZELK_RTP_PayloadBytes(G711_ALAW, 200), 200u);
  EXPECT_EQ(ZELK_RTP_PayloadSamples(G711_ALAW, 479), 479);
  for (int32_t n : {0, -80, 481, 560, 0x10050}) {
    for (int32_t codec : ALL_CODECS) EXPECT_EQ(ZELK_RTP_PayloadBytes(codec, n), 0u) << n;
  }
  for (int32_t n : {1, 79, 200, 482}) {
    EXPECT_EQ(ZELK_RTP_PayloadBytes(IMA_ADPCM, n), 0u) << n;
    EXPECT_EQ(ZELK_RTP_PayloadBytes(ADPCM_2BIT, n), 0u) << n;
  }
  for (size_t bytes : {0, 3, 4, 5, 43, 45, 245, 484}) {
    EXPECT_EQ(ZELK_RTP_PayloadSamples(IMA_ADPCM, bytes), 0) << bytes;
  }
  for (size_t bytes : {0, 19, 21, 121, 480}) {
    EXPECT_EQ(ZELK_RTP_PayloadSamples(ADPCM_2BIT, bytes), 0) << bytes;
  }
  EXPECT_EQ(ZELK_RTP_PayloadSamples(G711_ULAW, 0), 0);
  EXPECT_EQ(ZELK_RTP_PayloadSamples(G711_ULAW, 481), 0);
  // The whole argument counts: a codec type with upper bits set is not A-law.
  EXPECT_EQ(ZELK_RTP_PayloadBytes(0x10001, 160), 0u);
  EXPECT_EQ(ZELK_RTP_PayloadBytes(0, 160), 0u);
  EXPECT_EQ(ZELK_RTP_PayloadBytes(5, 160), 0u);
}

// --- bytes worked out by hand ------------------------------------------

TEST(PayloadBytes, G711CodesTravelOnePerByteInTimeOrder) {
  // A-law: 0..15 code to D5, 16 to D4; mu-law: 100 to F2, -100 to 72.
  int16_t pcm[80];
  for (int i = 0; i < 80; ++i) pcm[i] = static_cast<int16_t>(i % 2 == 0 ? 0 : 16);
  Block enc = Block::EncReset(G711_ALAW);
  const std::vector<uint8_t> alaw = Encode(enc, pcm, 80, G711_ALAW);
  ASSERT_EQ(alaw.size(), 80u);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(alaw[i], i % 2 == 0 ? 0xD5 : 0xD4) << i;

  for (int i = 0; i < 80; ++i) pcm[i] = static_cast<int16_t>(i % 2 == 0 ? 100 : -100);
  const std::vector<uint8_t> ulaw = Encode(enc, pcm, 80, G711_ULAW);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(ulaw[i], i % 2 == 0 ? 0xF2 : 0x72) << i;

  // The engine's frame holds each pair the other way round: bytes 4, 5 are
  // the second code, then the first.
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  ASSERT_EQ(ZELK_VOICE_EncodeFrame(enc.data(), pcm, frame, 80, G711_ULAW), VOICE_OK);
  const auto* frameBytes = reinterpret_cast<const uint8_t*>(frame);
  EXPECT_EQ(frameBytes[4], 0x72);
  EXPECT_EQ(frameBytes[5], 0xF2);
  uint8_t payload[80];
  size_t bytes = 0;
  ASSERT_EQ(ZELK_RTP_FrameToPayload(G711_ULAW, frame, 84, nullptr, payload, 80, &bytes),
            ZELK_RTP_OK);
  EXPECT_EQ(std::vector<uint8_t>(payload, payload + bytes), ulaw);
}

TEST(PayloadBytes, Dvi4HeaderCarriesTheStateBeforeTheBlock) {
  // The ramp 0, 100, .., 7900 from a cleared state codes to these 40 bytes
  // and leaves predictor 7904 (0x1EE0) and step index 28 (0x1C).
  const std::vector<uint8_t> rampCodes =
      Bytes({0x07, 0x77, 0x76, 0x11, 0x12, 0x12, 0x32, 0x23, 0x42, 0x34, 0x23, 0x34, 0x33, 0x43,
             0x34, 0x33, 0x43, 0x34, 0x33, 0x43, 0x33, 0x52, 0x33, 0x43, 0x34, 0x33, 0x43, 0x34,
             0x33, 0x43, 0x34, 0x33, 0x35, 0x23, 0x42, 0x33, 0x43, 0x34, 0x33, 0x43});
  int16_t ramp[80];
  for (int i = 0; i < 80; ++i) ramp[i] = static_cast<int16_t>(100 * i);
  Block enc = Block::EncReset(IMA_ADPCM);
  const std::vector<uint8_t> first = Encode(enc, ramp, 80, IMA_ADPCM);
  ASSERT_EQ(first.size(), 44u);
  EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.begin() + 4), Bytes({0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(first.begin() + 4, first.end()), rampCodes);
  const std::vector<uint8_t> second = Encode(enc, ramp, 80, IMA_ADPCM);
  EXPECT_EQ(std::vector<uint8_t>(second.begin(), second.begin() + 4),
            Bytes({0x1E, 0xE0, 0x1C, 0x00}));

  // A negative predicted value travels in two's complement, big-endian.
  Block neg = Block::EncReset(IMA_ADPCM);
  const int16_t predictor = -2;
  std::memcpy(neg.bytes, &predictor, 2);
  neg.bytes[2] = 88;
  const std::vector<uint8_t> p = Encode(neg, ramp, 80, IMA_ADPCM);
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 4), Bytes({0xFF, 0xFE, 0x58, 0x00}));

  // Receiving a header loads it: decoding the first packet gives the ramp's
  // known reconstruction and leaves the state the encoder had after it.
  Block dec(0x3C);  // never reset: the header overrides whatever the block held
  const std::vector<int16_t> out = Decode(dec, first, IMA_ADPCM);
  const int16_t expected[] = {0, 11, 41, 104, 240, 494, 597, 691, 776, 906};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), out.begin()));
  int16_t predictorAfter = 0;
  std::memcpy(&predictorAfter, dec.bytes, 2);
  EXPECT_EQ(predictorAfter, 7904);
  EXPECT_EQ(dec.bytes[2], 28);
  EXPECT_EQ(dec.bytes[3], 0x3C) << "byte 3 is not the coder's";
}

TEST(PayloadBytes, TwoBitCodesPackFourToAByteEarliestOnTop) {
  // 80 samples of silence from the reset: the engine's frame is
  //   00 01 0A 00 C0 30 30 00 03 03 0C 0C 30 03 30 0C C0 30 3C C0 F0 00 CC 03
  // and the payload is the same codes in time order, each word's bytes swapped.
  const int16_t silence[80] = {};
  Block enc = Block::EncReset(ADPCM_2BIT);
  const std::vector<uint8_t> payload = Encode(enc, silence, 80, ADPCM_2BIT);
  EXPECT_EQ(payload, Bytes({0x30, 0xC0, 0x00, 0x30, 0x03, 0x03, 0x0C, 0x0C, 0x03, 0x30,
                            0x0C, 0x30, 0x30, 0xC0, 0xC0, 0x3C, 0x00, 0xF0, 0x03, 0xCC}));
  // The first byte is the codes 0, 3, 0, 0 of the first four samples.
  EXPECT_EQ(payload[0], (0 << 6) | (3 << 4) | (0 << 2) | 0);

  // Codes 3, 0, 1, 2, 2, 1, 0, 3 as a payload are C6 93; as a frame 93 C6.
  std::vector<uint8_t> codes(20, 0);
  codes[0] = 0xC6;
  codes[1] = 0x93;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  size_t frameBytes = 0;
  ASSERT_EQ(ZELK_RTP_PayloadToFrame(ADPCM_2BIT, codes.data(), codes.size(), nullptr, frame,
                                    sizeof frame, &frameBytes),
            ZELK_RTP_OK);
  EXPECT_EQ(frameBytes, 24u);
  const auto* fb = reinterpret_cast<const uint8_t*>(frame);
  EXPECT_EQ(std::vector<uint8_t>(fb, fb + 6), Bytes({0x00, 0x01, 0x0A, 0x00, 0x93, 0xC6}));
}

// --- agreement with the engine's frames ------------------------------------

// For every codec and frame size, over a long stream: EncodePayload gives
// the engine frame's codes (FrameToPayload of it), PayloadToFrame gives the
// frame back, DecodePayload the engine decoder's samples, and the states of
// both paths stay equal byte for byte, guard bytes included.
TEST(PayloadStream, AgreesWithTheEnginesFrames) {
  using zelk::testing::Signal;
  for (int32_t codec : ALL_CODECS) {
    for (int32_t n : FRAME_SIZES) {
      SCOPED_TRACE(testing::Message() << "codec " << codec << ", " << n << " samples");
      Block encRtp = Block::EncReset(codec), encFrame = Block::EncReset(codec);
      Block decRtp = Block::DecReset(codec), decFrame = Block::DecReset(codec);
      for (Signal kind : {Signal::kSpeechLike, Signal::kNoise, Signal::kSquareFullScale}) {
        const std::vector<int16_t> pcm =
            zelk::testing::MakeSignal(kind, 40 * static_cast<size_t>(n), 7 + n + codec);
        for (size_t at = 0; at < pcm.size(); at += static_cast<size_t>(n)) {
          const Block before = encFrame;
          const std::vector<uint8_t> payload = Encode(encRtp, &pcm[at], n, codec);
          uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
          ASSERT_EQ(ZELK_VOICE_EncodeFrame(encFrame.data(), &pcm[at], frame, n, codec), VOICE_OK);
          ASSERT_TRUE(encRtp == encFrame);

          std::vector<uint8_t> fromFrame(ZELK_RTP_MAX_PAYLOAD_BYTES);
          size_t bytes = 0;
          ASSERT_EQ(ZELK_RTP_FrameToPayload(codec, frame, sizeof frame, before.bytes,
                                            fromFrame.data(), fromFrame.size(), &bytes),
                    ZELK_RTP_OK);
          fromFrame.resize(bytes);
          ASSERT_EQ(payload, fromFrame);

          uint16_t rebuilt[ZELK_VOICE_MAX_FRAME_WORDS];
          size_t rebuiltBytes = 0;
          Block loaded = decFrame;
          ASSERT_EQ(ZELK_RTP_PayloadToFrame(codec, payload.data(), payload.size(), loaded.data(),
                                            rebuilt, sizeof rebuilt, &rebuiltBytes),
                    ZELK_RTP_OK);
          ASSERT_EQ(rebuiltBytes,
                    4 + 2 * static_cast<size_t>(zelk::testing::LoadWireWord(&frame[1])));
          ASSERT_EQ(std::memcmp(rebuilt, frame, rebuiltBytes), 0);
          ASSERT_TRUE(loaded == decFrame) << "a decoder in step already holds the header";

          const std::vector<int16_t> out = Decode(decRtp, payload, codec);
          int16_t expected[ZELK_VOICE_MAX_SAMPLES];
          int16_t count = 0;
          ASSERT_EQ(ZELK_VOICE_DecodeFrame(decFrame.data(), frame, expected, codec, &count),
                    VOICE_OK);
          ASSERT_EQ(out, std::vector<int16_t>(expected, expected + count));
          ASSERT_TRUE(decRtp == decFrame);
        }
      }
    }
  }
}

// G.711 blocks of any length code and decode exactly like the same samples
// inside a full frame.
TEST(PayloadStream, G711BlocksOfAnyLength) {
  for (int32_t codec : {G711_ALAW, G711_ULAW}) {
    const std::vector<int16_t> pcm =
        zelk::testing::MakeSignal(zelk::testing::Signal::kNoise, 480, 3);
    Block enc = Block::EncReset(codec);
    const std::vector<uint8_t> whole = Encode(enc, pcm.data(), 480, codec);
    Block dec = Block::DecReset(codec);
    const std::vector<int16_t> wholeOut = Decode(dec, whole, codec);
    for (int32_t n = 1; n <= 480; ++n) {
      SCOPED_TRACE(n);
      Guarded<uint8_t> payload(static_cast<size_t>(n), 0x5A);
      size_t bytes = 0;
      ASSERT_EQ(ZELK_RTP_EncodePayload(enc.data(), pcm.data(), n, codec, payload.data(),
                                       payload.size(), &bytes),
                ZELK_RTP_OK);
      ASSERT_EQ(bytes, static_cast<size_t>(n));
      ASSERT_TRUE(std::equal(whole.begin(), whole.begin() + n, payload.v.begin()));
      ASSERT_TRUE(payload.GuardUntouched(bytes));

      Guarded<int16_t> out(static_cast<size_t>(n), 0x5A5A);
      size_t count = 0;
      ASSERT_EQ(ZELK_RTP_DecodePayload(dec.data(), whole.data(), static_cast<size_t>(n), codec,
                                       out.data(), out.size(), &count),
                ZELK_RTP_OK);
      ASSERT_EQ(count, static_cast<size_t>(n));
      ASSERT_TRUE(std::equal(wholeOut.begin(), wholeOut.begin() + n, out.v.begin()));
      ASSERT_TRUE(out.GuardUntouched(count));
    }
  }
}

// --- DVI4 resynchronisation -----------------------------------------------

// A lost packet costs the decoder nothing from the next packet on: every
// later packet's header puts it back on the encoder's track. The same holds
// for a decoder that starts in the middle of a stream with a block that was
// never reset.
TEST(Dvi4, ResynchronisesOnTheNextPacketAfterALoss) {
  std::vector<int16_t> speech = zelk::rtp_test::LoadRecording();
  if (speech.empty()) {
    speech = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 48000, 5);
  }
  for (int32_t n : FRAME_SIZES) {
    SCOPED_TRACE(n);
    const size_t packets = std::min<size_t>(speech.size() / static_cast<size_t>(n), 120);
    Block enc = Block::EncReset(IMA_ADPCM);
    std::vector<std::vector<uint8_t>> stream;
    for (size_t k = 0; k < packets; ++k) {
      stream.push_back(Encode(enc, &speech[k * static_cast<size_t>(n)], n, IMA_ADPCM));
    }
    Block ref = Block::DecReset(IMA_ADPCM);
    std::vector<std::vector<int16_t>> clean;
    for (const auto& p : stream) clean.push_back(Decode(ref, p, IMA_ADPCM));

    for (size_t lost : {size_t{0}, size_t{1}, packets / 3, packets - 2}) {
      Block dec = Block::DecReset(IMA_ADPCM);
      for (size_t k = 0; k < packets; ++k) {
        if (k == lost) continue;
        const std::vector<int16_t> out = Decode(dec, stream[k], IMA_ADPCM);
        if (k > lost) {
          ASSERT_EQ(out, clean[k]) << "packet " << k << " after losing " << lost;
        }
      }
    }
    Block late(0xC3);  // step index byte 0xC3: far out of range until a header arrives
    for (size_t k = packets / 2; k < packets; ++k) {
      ASSERT_EQ(Decode(late, stream[k], IMA_ADPCM), clean[k]) << k;
    }
  }
}

// --- refused arguments ----------------------------------------------------

// Every output buffer, count and state block of a refused call, canary-filled
// before it, is exactly as it was after it.
struct Outputs {
  Block state{0x77};
  Guarded<uint8_t> payload{ZELK_RTP_MAX_PAYLOAD_BYTES, 0x5A};
  Guarded<int16_t> pcm{ZELK_VOICE_MAX_SAMPLES, 0x5A5A};
  Guarded<uint16_t> frame{ZELK_VOICE_MAX_FRAME_WORDS, 0x5A5A};
  size_t count = 0xDEAD;

  bool Untouched() const {
    return state == Block(0x77) && payload.Untouched() && pcm.Untouched() && frame.Untouched() &&
           count == 0xDEAD;
  }
};

TEST(PayloadErrors, EncodeRefusesAndWritesNothing) {
  int16_t pcm[480] = {};
  struct Case {
    const char* what;
    bool nullState, nullPcm, nullPayload, nullCount;
    int32_t n, codec;
    size_t capacity;
    uint8_t stepIndex;
    uint32_t status;
  };
  const Case cases[] = {
      {"null state", true, false, false, false, 160, 3, 484, 0, ZELK_RTP_ERR_NULL_STATE},
      {"null state first", true, true, true, true, 1, 9, 0, 0, ZELK_RTP_ERR_NULL_STATE},
      {"null pcm", false, true, false, false, 160, 1, 484, 0, ZELK_RTP_ERR_NULL_INPUT},
      {"null payload", false, false, true, false, 160, 1, 484, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"null count", false, false, false, true, 160, 1, 484, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"codec 0", false, false, false, false, 160, 0, 484, 0, ZELK_RTP_ERR_CODEC},
      {"codec 5, bad count", false, false, false, false, 7, 5, 484, 0, ZELK_RTP_ERR_CODEC},
      {"codec with high bits", false, false, false, false, 160, 0x10001, 484, 0,
       ZELK_RTP_ERR_CODEC},
      {"G.711 0 samples", false, false, false, false, 0, 1, 484, 0, ZELK_RTP_ERR_SAMPLES},
      {"G.711 481 samples", false, false, false, false, 481, 2, 484, 0, ZELK_RTP_ERR_SAMPLES},
      {"IMA 100 samples", false, false, false, false, 100, 3, 484, 0, ZELK_RTP_ERR_SAMPLES},
      {"two-bit -80", false, false, false, false, -80, 4, 484, 0, ZELK_RTP_ERR_SAMPLES},
      {"count with high bits", false, false, false, false, 0x10050, 1, 484, 0,
       ZELK_RTP_ERR_SAMPLES},
      {"IMA index 89", false, false, false, false, 160, 3, 484, 89, ZELK_RTP_ERR_RECORD},
      {"IMA index -1", false, false, false, false, 160, 3, 484, 0xFF, ZELK_RTP_ERR_RECORD},
      {"IMA index 89, small", false, false, false, false, 160, 3, 1, 89, ZELK_RTP_ERR_RECORD},
      {"G.711 one short", false, false, false, false, 160, 1, 159, 0, ZELK_RTP_ERR_CAPACITY},
      {"IMA one short", false, false, false, false, 160, 3, 83, 0, ZELK_RTP_ERR_CAPACITY},
      {"two-bit one short", false, false, false, false, 480, 4, 119, 0, ZELK_RTP_ERR_CAPACITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outputs o;
    o.state.bytes[2] = c.stepIndex;
    const Block before = o.state;
    EXPECT_EQ(
        ZELK_RTP_EncodePayload(c.nullState ? nullptr : o.state.data(), c.nullPcm ? nullptr : pcm,
                               c.n, c.codec, c.nullPayload ? nullptr : o.payload.data(), c.capacity,
                               c.nullCount ? nullptr : &o.count),
        c.status);
    EXPECT_TRUE(o.state == before);
    EXPECT_TRUE(o.payload.Untouched());
    EXPECT_EQ(o.count, 0xDEADu);
  }
}

TEST(PayloadErrors, DecodeRefusesAndWritesNothing) {
  std::vector<uint8_t> dvi4(84, 0);
  struct Case {
    const char* what;
    bool nullState, nullPayload, nullPcm, nullCount;
    int32_t codec;
    size_t bytes, capacity;
    uint8_t index, reserved;
    uint32_t status;
  };
  const Case cases[] = {
      {"null state", true, true, true, true, 9, 0, 0, 0, 0, ZELK_RTP_ERR_NULL_STATE},
      {"null payload", false, true, false, false, 3, 84, 480, 0, 0, ZELK_RTP_ERR_NULL_INPUT},
      {"null pcm", false, false, true, false, 3, 84, 480, 0, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"null count", false, false, false, true, 3, 84, 480, 0, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"codec 5, empty", false, false, false, false, 5, 0, 480, 0, 0, ZELK_RTP_ERR_CODEC},
      {"G.711 empty", false, false, false, false, 1, 0, 480, 0, 0, ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"G.711 481", false, false, false, false, 2, 481, 480, 0, 0, ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"DVI4 header only", false, false, false, false, 3, 4, 480, 0, 0, ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"DVI4 one byte short, bad index", false, false, false, false, 3, 83, 480, 89, 1,
       ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"DVI4 index 89", false, false, false, false, 3, 84, 480, 89, 0, ZELK_RTP_ERR_DVI4_INDEX},
      {"DVI4 index 255, reserved", false, false, false, false, 3, 84, 480, 255, 1,
       ZELK_RTP_ERR_DVI4_INDEX},
      {"DVI4 reserved 1", false, false, false, false, 3, 84, 480, 88, 1,
       ZELK_RTP_ERR_DVI4_RESERVED},
      {"DVI4 reserved 0x80, small", false, false, false, false, 3, 84, 1, 0, 0x80,
       ZELK_RTP_ERR_DVI4_RESERVED},
      {"two-bit 21 bytes", false, false, false, false, 4, 21, 480, 0, 0, ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"DVI4 one short", false, false, false, false, 3, 84, 159, 0, 0, ZELK_RTP_ERR_CAPACITY},
      {"G.711 odd one short", false, false, false, false, 1, 77, 76, 0, 0, ZELK_RTP_ERR_CAPACITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dvi4[2] = c.index;
    dvi4[3] = c.reserved;
    Outputs o;
    EXPECT_EQ(ZELK_RTP_DecodePayload(c.nullState ? nullptr : o.state.data(),
                                     c.nullPayload ? nullptr : dvi4.data(), c.bytes, c.codec,
                                     c.nullPcm ? nullptr : o.pcm.data(), c.capacity,
                                     c.nullCount ? nullptr : &o.count),
              c.status);
    EXPECT_TRUE(o.Untouched());
  }
}

TEST(PayloadErrors, FrameToPayloadRefusesAndWritesNothing) {
  Block enc = Block::EncReset(IMA_ADPCM);
  int16_t pcm[160] = {};
  uint16_t good[ZELK_VOICE_MAX_FRAME_WORDS];
  ASSERT_EQ(ZELK_VOICE_EncodeFrame(enc.data(), pcm, good, 160, IMA_ADPCM), VOICE_OK);  // L = 40
  struct Case {
    const char* what;
    bool nullFrame, nullState, nullPayload, nullCount;
    int32_t codec;
    uint16_t header, length;
    size_t frameBytes, capacity;
    uint8_t stepIndex;
    uint32_t status;
  };
  const Case cases[] = {
      {"null frame", true, true, true, true, 9, 0x100, 40, 84, 484, 0, ZELK_RTP_ERR_NULL_INPUT},
      {"null payload", false, false, true, false, 3, 0x100, 40, 84, 484, 0,
       ZELK_RTP_ERR_NULL_OUTPUT},
      {"null count", false, false, false, true, 3, 0x100, 40, 84, 484, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"codec 0, null state", false, true, false, false, 0, 0x100, 40, 84, 484, 0,
       ZELK_RTP_ERR_CODEC},
      {"DVI4 null state", false, true, false, false, 3, 0x100, 40, 84, 484, 0,
       ZELK_RTP_ERR_NULL_STATE},
      {"header 0x0000", false, false, false, false, 3, 0x0000, 40, 84, 484, 0, ZELK_RTP_ERR_FRAME},
      {"header 0x0300", false, false, false, false, 3, 0x0300, 40, 84, 484, 0, ZELK_RTP_ERR_FRAME},
      {"length 0", false, false, false, false, 3, 0x100, 0, 84, 484, 0, ZELK_RTP_ERR_FRAME},
      {"length 41", false, false, false, false, 3, 0x100, 41, 86, 484, 0, ZELK_RTP_ERR_FRAME},
      {"G.711 frame a byte short", false, false, false, false, 1, 0x100, 40, 83, 484, 0,
       ZELK_RTP_ERR_FRAME},
      {"3 bytes", false, false, false, false, 3, 0x100, 40, 3, 484, 0, ZELK_RTP_ERR_FRAME},
      {"two-bit length 40 is 320 samples, short", false, false, false, false, 4, 0x100, 40, 80, 484,
       0, ZELK_RTP_ERR_FRAME},
      {"DVI4 state index 90", false, false, false, false, 3, 0x100, 40, 84, 484, 90,
       ZELK_RTP_ERR_RECORD},
      {"DVI4 one short", false, false, false, false, 3, 0x100, 40, 84, 83, 0,
       ZELK_RTP_ERR_CAPACITY},
      {"G.711 one short", false, false, false, false, 2, 0x100, 40, 84, 79, 0,
       ZELK_RTP_ERR_CAPACITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    std::memcpy(frame, good, sizeof frame);
    zelk::testing::StoreWireWord(&frame[0], c.header);
    zelk::testing::StoreWireWord(&frame[1], c.length);
    Block state = enc;
    state.bytes[2] = c.stepIndex;
    Outputs o;
    EXPECT_EQ(ZELK_RTP_FrameToPayload(c.codec, c.nullFrame ? nullptr : frame, c.frameBytes,
                                      c.nullState ? nullptr : state.bytes,
                                      c.nullPayload ? nullptr : o.payload.data(), c.capacity,
                                      c.nullCount ? nullptr : &o.count),
              c.status);
    EXPECT_TRUE(o.Untouched());
  }
  // Only bits 8-9 of the header and the low byte of the length count, as in
  // the engine's decoder; the state is not needed but for DVI4.
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  std::memcpy(frame, good, sizeof frame);
  zelk::testing::StoreWireWord(&frame[0], 0xFD01);
  zelk::testing::StoreWireWord(&frame[1], 0x3328);  // low byte 40: 80 samples of G.711
  uint8_t payload[80];
  size_t bytes = 0;
  EXPECT_EQ(ZELK_RTP_FrameToPayload(G711_ALAW, frame, 84, nullptr, payload, 80, &bytes),
            ZELK_RTP_OK);
  EXPECT_EQ(bytes, 80u);
}

TEST(PayloadErrors, PayloadToFrameRefusesAndWritesNothing) {
  std::vector<uint8_t> payload(484, 0);
  struct Case {
    const char* what;
    bool nullPayload, nullState, nullFrame, nullCount;
    int32_t codec;
    size_t bytes, capacity;
    uint8_t index, reserved;
    uint32_t status;
  };
  const Case cases[] = {
      {"null payload", true, true, true, true, 9, 0, 0, 0, 0, ZELK_RTP_ERR_NULL_INPUT},
      {"null frame", false, false, true, false, 1, 160, 484, 0, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"null count", false, false, false, true, 1, 160, 484, 0, 0, ZELK_RTP_ERR_NULL_OUTPUT},
      {"codec -1", false, false, false, false, -1, 160, 484, 0, 0, ZELK_RTP_ERR_CODEC},
      {"DVI4 null state", false, true, false, false, 3, 84, 484, 0, 0, ZELK_RTP_ERR_NULL_STATE},
      {"G.711 200: no frame holds it", false, false, false, false, 1, 200, 484, 0, 0,
       ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"two-bit 121", false, false, false, false, 4, 121, 484, 0, 0, ZELK_RTP_ERR_PAYLOAD_SIZE},
      {"DVI4 index 89", false, false, false, false, 3, 84, 484, 89, 0, ZELK_RTP_ERR_DVI4_INDEX},
      {"DVI4 reserved", false, false, false, false, 3, 84, 484, 0, 2, ZELK_RTP_ERR_DVI4_RESERVED},
      {"G.711 one short", false, false, false, false, 2, 480, 483, 0, 0, ZELK_RTP_ERR_CAPACITY},
      {"DVI4 one short", false, false, false, false, 3, 84, 83, 0, 0, ZELK_RTP_ERR_CAPACITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    payload[2] = c.index;
    payload[3] = c.reserved;
    Outputs o;
    EXPECT_EQ(ZELK_RTP_PayloadToFrame(c.codec, c.nullPayload ? nullptr : payload.data(), c.bytes,
                                      c.nullState ? nullptr : o.state.data(),
                                      c.nullFrame ? nullptr : o.frame.data(), c.capacity,
                                      c.nullCount ? nullptr : &o.count),
              c.status);
    EXPECT_TRUE(o.Untouched());
  }
}

// Good calls write exactly their result and nothing after it.
TEST(PayloadBounds, GoodCallsWriteExactlyTheirResult) {
  for (int32_t codec : ALL_CODECS) {
    for (int32_t n : FRAME_SIZES) {
      SCOPED_TRACE(testing::Message() << codec << " " << n);
      const size_t bytes = ZELK_RTP_PayloadBytes(codec, n);
      const std::vector<int16_t> pcm =
          zelk::testing::MakeSignal(zelk::testing::Signal::kNoise, 480, 1);
      Block enc = Block::EncReset(codec);
      Guarded<uint8_t> payload(bytes, 0x5A);
      size_t written = 0;
      ASSERT_EQ(
          ZELK_RTP_EncodePayload(enc.data(), pcm.data(), n, codec, payload.data(), bytes, &written),
          ZELK_RTP_OK);
      EXPECT_EQ(written, bytes);
      EXPECT_TRUE(payload.GuardUntouched(bytes));
      EXPECT_TRUE(std::equal(enc.bytes + ZELK_VOICE_STATE_SIZE, std::end(enc.bytes),
                             Block().bytes + ZELK_VOICE_STATE_SIZE));

      Block dec = Block::DecReset(codec);
      Guarded<int16_t> out(static_cast<size_t>(n), 0x5A5A);
      size_t count = 0;
      ASSERT_EQ(ZELK_RTP_DecodePayload(dec.data(), payload.data(), bytes, codec, out.data(),
                                       out.size(), &count),
                ZELK_RTP_OK);
      EXPECT_EQ(count, static_cast<size_t>(n));
      EXPECT_TRUE(out.GuardUntouched(count));

      const size_t frameBytes = 4 + bytes - (codec == IMA_ADPCM ? 4 : 0);  // 4 + 2 L
      alignas(2) uint8_t aligned[ZELK_VOICE_MAX_FRAME_WORDS * 2 + 32];
      std::memset(aligned, 0x5A, sizeof aligned);
      size_t got = 0;
      ASSERT_EQ(ZELK_RTP_PayloadToFrame(codec, payload.data(), bytes, dec.data(),
                                        reinterpret_cast<uint16_t*>(aligned), frameBytes, &got),
                ZELK_RTP_OK);
      EXPECT_EQ(got, frameBytes);
      EXPECT_TRUE(std::all_of(aligned + frameBytes, std::end(aligned),
                              [](uint8_t b) { return b == 0x5A; }));
    }
  }
}

}  // namespace
