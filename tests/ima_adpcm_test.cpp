#include "codec/ima_adpcm/ima_adpcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "frame_bytes.h"
#include "ima_adpcm_reference.h"
#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

using testing::ImaReference;
using testing::MakeSignal;
using testing::Signal;

constexpr unsigned char kSentinel = 0xA5;

// A caller's state block holding predictor p and step-index byte `index`,
// every other byte a sentinel.
VoiceCodecState BlockWith(int16_t p, uint8_t index) {
  VoiceCodecState block;
  std::memset(&block, kSentinel, sizeof block);
  std::memcpy(&block, &p, 2);
  std::memcpy(reinterpret_cast<unsigned char*>(&block) + 2, &index, 1);
  return block;
}

ImaAdpcmState StateOf(const void* block) {
  ImaAdpcmState s;
  std::memcpy(&s.predictor, block, 2);
  std::memcpy(&s.stepIndex, static_cast<const unsigned char*>(block) + 2, 1);
  return s;
}

void ExpectOnlyStateBytesWritten(const VoiceCodecState& block) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
  for (size_t i = 3; i < sizeof block; ++i) ASSERT_EQ(bytes[i], kSentinel) << "byte " << i;
}

std::vector<uint8_t> Encode(const std::vector<int16_t>& pcm, ImaAdpcmState& state) {
  std::vector<uint8_t> bytes((pcm.size() + 1) / 2);
  ImaAdpcmEncode(pcm.data(), bytes.data(), static_cast<int>(pcm.size()), &state);
  return bytes;
}

std::vector<int16_t> Decode(const std::vector<uint8_t>& bytes, int n, ImaAdpcmState& state) {
  std::vector<int16_t> pcm(static_cast<size_t>(n));
  ImaAdpcmDecode(bytes.data(), pcm.data(), n, &state);
  return pcm;
}

// ---- Values worked out by hand -----------------------------------------

TEST(ImaAdpcmWorkedExamples, RampEncodesDecodesAndEndsInTheSameState) {
  std::vector<int16_t> ramp(80);
  for (int k = 0; k < 80; ++k) ramp[static_cast<size_t>(k)] = static_cast<int16_t>(100 * k);
  const std::vector<uint8_t> expected = {
      0x07, 0x77, 0x76, 0x11, 0x12, 0x12, 0x32, 0x23, 0x42, 0x34, 0x23, 0x34, 0x33, 0x43,
      0x34, 0x33, 0x43, 0x34, 0x33, 0x43, 0x33, 0x52, 0x33, 0x43, 0x34, 0x33, 0x43, 0x34,
      0x33, 0x43, 0x34, 0x33, 0x35, 0x23, 0x42, 0x33, 0x43, 0x34, 0x33, 0x43};
  ImaAdpcmState enc{0, 0};
  EXPECT_EQ(Encode(ramp, enc), expected);
  EXPECT_EQ(enc.predictor, 7904);
  EXPECT_EQ(enc.stepIndex, 28);

  ImaAdpcmState dec{0, 0};
  const auto pcm = Decode(expected, 80, dec);
  const std::vector<int16_t> head(pcm.begin(), pcm.begin() + 10);
  EXPECT_EQ(head, (std::vector<int16_t>{0, 11, 41, 104, 240, 494, 597, 691, 776, 906}));
  EXPECT_EQ(pcm.back(), 7904);
  EXPECT_EQ(dec.predictor, enc.predictor);
  EXPECT_EQ(dec.stepIndex, enc.stepIndex);
}

TEST(ImaAdpcmWorkedExamples, ThresholdsAndZeroMagnitudeCodes) {
  // First sample against step 7: equal to the step sets the bit.
  for (auto [x, code] : {std::pair{7, 0x4}, {6, 0x3}, {-1, 0x9}, {0, 0x0}}) {
    ImaAdpcmState s{0, 0};
    EXPECT_EQ(Encode({static_cast<int16_t>(x)}, s), std::vector<uint8_t>{uint8_t(code << 4)})
        << "x = " << x;
  }
  // Silence stays silent and leaves the state cleared.
  ImaAdpcmState s{0, 0};
  EXPECT_EQ(Encode(std::vector<int16_t>(80, 0), s), std::vector<uint8_t>(40, 0));
  EXPECT_EQ(s.predictor, 0);
  EXPECT_EQ(s.stepIndex, 0);
  // Codes 0 and 8 move by step/8, which is 0 at step 7.
  for (uint8_t byte : {0x08, 0x88}) {
    ImaAdpcmState d{0, 0};
    EXPECT_EQ(Decode({byte}, 2, d), (std::vector<int16_t>{0, 0}));
    EXPECT_EQ(d.predictor, 0);
    EXPECT_EQ(d.stepIndex, 0);
  }
}

TEST(ImaAdpcmWorkedExamples, SaturatesAtBothEnds) {
  ImaAdpcmState enc{0, 0};
  const auto bytes = Encode(std::vector<int16_t>(80, 32767), enc);
  std::vector<uint8_t> codes;
  for (uint8_t b : bytes) codes.insert(codes.end(), {uint8_t(b >> 4), uint8_t(b & 15)});
  std::vector<uint8_t> expected(80, 0);
  std::fill(expected.begin(), expected.begin() + 10, 7);
  expected[10] = 2;
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(enc.predictor, 32767);
  EXPECT_EQ(enc.stepIndex, 10);

  const std::vector<int16_t> rise = {11, 41, 104, 240, 533, 1164, 2521, 5431, 11667, 25039};
  for (int sign : {1, -1}) {
    ImaAdpcmState dec{0, 0};
    const auto pcm = Decode(std::vector<uint8_t>(40, sign > 0 ? 0x77 : 0xFF), 80, dec);
    for (size_t k = 0; k < 80; ++k) {
      const int want = k < rise.size() ? sign * rise[k] : (sign > 0 ? 32767 : -32768);
      ASSERT_EQ(pcm[k], want) << "sample " << k << " sign " << sign;
    }
    EXPECT_EQ(dec.predictor, sign > 0 ? 32767 : -32768);
    EXPECT_EQ(dec.stepIndex, 88);
  }
}

TEST(ImaAdpcmWorkedExamples, OddCountsPadTheLastByteAndTouchNothingBeyond) {
  uint8_t out[4];
  std::memset(out, kSentinel, sizeof out);
  ImaAdpcmState s{0, 0};
  const int16_t three[] = {100, 200, 300};
  ImaAdpcmEncode(three, out, 3, &s);
  EXPECT_EQ(out[0], 0x77);
  EXPECT_EQ(out[1], 0x70);
  EXPECT_EQ(out[2], kSentinel);

  std::memset(out, kSentinel, sizeof out);
  s = {0, 0};
  const int16_t one[] = {1000};
  ImaAdpcmEncode(one, out, 1, &s);
  EXPECT_EQ(out[0], 0x70);
  EXPECT_EQ(out[1], kSentinel);

  // The low nibble after an odd count is never read: 0x7F decodes like 0x70.
  int16_t pcm[4];
  for (uint8_t last : {0x70, 0x7F}) {
    std::fill(std::begin(pcm), std::end(pcm), int16_t{-7});
    ImaAdpcmState d{0, 0};
    const uint8_t bytes[] = {0x77, last};
    ImaAdpcmDecode(bytes, pcm, 3, &d);
    EXPECT_EQ(pcm[0], 11);
    EXPECT_EQ(pcm[1], 41);
    EXPECT_EQ(pcm[2], 104);
    EXPECT_EQ(pcm[3], -7);
    EXPECT_EQ(d.stepIndex, 24);
  }
}

TEST(ImaAdpcmWorkedExamples, NonPositiveCountsDoNothing) {
  for (int n : {0, -1, -80, INT_MIN}) {
    VoiceCodecState block = BlockWith(1234, 40);
    uint8_t bytes[2] = {kSentinel, kSentinel};
    int16_t pcm[2] = {-7, -7};
    ImaAdpcmEncode(pcm, bytes, n, &block);
    ImaAdpcmDecode(bytes, pcm, n, &block);
    EXPECT_EQ(bytes[0], kSentinel);
    EXPECT_EQ(pcm[0], -7);
    EXPECT_EQ(StateOf(&block).predictor, 1234);
    EXPECT_EQ(StateOf(&block).stepIndex, 40);
  }
}

// ---- The caller's block ------------------------------------------------

// A block that was never cleared may hold any step-index byte. The coders
// must behave as if it were clamped to 0..88 (negative bytes to 0), read no
// table out of range and write no byte but the three of the state.
TEST(ImaAdpcmStateBlock, EveryStepIndexByteIsClampedAndOnlyThreeBytesChange) {
  const auto pcm = MakeSignal(Signal::kNoise, 160, 11);
  for (int byte = 0; byte < 256; ++byte) {
    const int asSigned = byte < 128 ? byte : byte - 256;
    ImaReference ref;
    ref.predictor = -1234;
    ref.stepIndex = asSigned < 0 ? 0 : (asSigned > 88 ? 88 : asSigned);
    ImaReference refDec = ref;
    const auto want = ref.Encode(pcm.data(), 160);

    VoiceCodecState enc = BlockWith(-1234, static_cast<uint8_t>(byte));
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, pcm.data(), frame, 160, IMA_ADPCM), VOICE_OK);
    ASSERT_EQ(std::memcmp(frame + 2, want.data(), want.size()), 0) << "byte " << byte;
    EXPECT_EQ(StateOf(&enc).predictor, ref.predictor);
    EXPECT_EQ(StateOf(&enc).stepIndex, ref.stepIndex);
    ExpectOnlyStateBytesWritten(enc);

    VoiceCodecState dec = BlockWith(-1234, static_cast<uint8_t>(byte));
    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, frame, out, IMA_ADPCM, &count), VOICE_OK);
    ASSERT_EQ(count, 160);
    ASSERT_EQ(std::vector<int16_t>(out, out + 160), refDec.Decode(want.data(), 160));
    EXPECT_EQ(StateOf(&dec).stepIndex, ref.stepIndex);
    ExpectOnlyStateBytesWritten(dec);
  }
}

TEST(ImaAdpcmStateBlock, ResetClearsOnlyTheStateBytes) {
  for (auto reset : {ZELK_VOICE_EncReset, ZELK_VOICE_DecReset}) {
    VoiceCodecState block = BlockWith(-5, 0x7F);
    ASSERT_EQ(reset(&block, IMA_ADPCM), VOICE_OK);
    EXPECT_EQ(StateOf(&block).predictor, 0);
    EXPECT_EQ(StateOf(&block).stepIndex, 0);
    ExpectOnlyStateBytesWritten(block);
  }
}

// ---- The fast coder against the plain one ------------------------------

// Every sample against every step from the three predictors that together
// reach every difference -65535..65535 and both clamps.
TEST(ImaAdpcmAgainstReference, EverySampleAtEveryStepEncodesAlike) {
  for (int16_t p : {int16_t{0}, int16_t{32767}, int16_t{-32768}}) {
    for (int index = 0; index <= 88; ++index) {
      for (int x = -32768; x <= 32767; ++x) {
        ImaReference ref;
        ref.predictor = p;
        ref.stepIndex = index;
        const int code = ref.EncodeSample(x);
        ImaAdpcmState s{p, static_cast<int8_t>(index)};
        const auto sample = static_cast<int16_t>(x);
        uint8_t byte = 0;
        ImaAdpcmEncode(&sample, &byte, 1, &s);
        if (byte != code << 4 || s.predictor != ref.predictor || s.stepIndex != ref.stepIndex) {
          FAIL() << "p " << p << " index " << index << " x " << x << ": code " << (byte >> 4)
                 << " want " << code;
        }
      }
    }
  }
}

TEST(ImaAdpcmAgainstReference, EveryByteAtEveryStepDecodesAlike) {
  for (int16_t p : {-32768, -20000, -1, 0, 20000, 32767}) {
    for (int index = 0; index <= 88; ++index) {
      for (int byte = 0; byte < 256; ++byte) {
        ImaReference ref;
        ref.predictor = p;
        ref.stepIndex = index;
        const uint8_t b = static_cast<uint8_t>(byte);
        const auto want = ref.Decode(&b, 2);
        ImaAdpcmState s{p, static_cast<int8_t>(index)};
        ASSERT_EQ(Decode({b}, 2, s), want) << "p " << p << " index " << index << " byte " << byte;
        ASSERT_EQ(s.predictor, ref.predictor);
        ASSERT_EQ(s.stepIndex, ref.stepIndex);
      }
    }
  }
}

// Block calls of every size, odd ones included, carry the state from call to
// call; each call starts a new byte.
TEST(ImaAdpcmAgainstReference, LongStreamsInCallsOfAnySize) {
  std::mt19937 rng(2024);
  for (Signal kind : testing::ALL_SIGNALS) {
    const auto pcm = MakeSignal(kind, 40000, static_cast<uint32_t>(rng()));
    ImaReference refEnc, refDec;
    ImaAdpcmState enc{0, 0}, dec{0, 0};
    for (size_t pos = 0; pos < pcm.size();) {
      const int n = std::min(static_cast<int>(rng() % 97) + 1, static_cast<int>(pcm.size() - pos));
      const std::vector<int16_t> chunk(pcm.begin() + static_cast<long>(pos),
                                       pcm.begin() + static_cast<long>(pos) + n);
      const auto bytes = Encode(chunk, enc);
      ASSERT_EQ(bytes, refEnc.Encode(chunk.data(), n)) << SignalName(kind) << " at " << pos;
      ASSERT_EQ(Decode(bytes, n, dec), refDec.Decode(bytes.data(), n));
      ASSERT_EQ(enc.predictor, refEnc.predictor);
      ASSERT_EQ(enc.stepIndex, refEnc.stepIndex);
      ASSERT_EQ(dec.predictor, enc.predictor);
      ASSERT_EQ(dec.stepIndex, enc.stepIndex);
      pos += static_cast<size_t>(n);
    }
  }
}

// The encoder skips the prediction clamp for blocks whose samples all lie at
// least 4095 (the largest step / 8) inside the 16-bit range, where the clamp
// cannot act. The largest overshoot, step / 8 past the sample, comes when the
// difference equals a threshold of the quantiser exactly; here every sample
// within 4096 of either end meets a prediction one threshold away (and one
// either side of that) at the largest steps, as a block of one sample and as
// a block of two, so a limit one too wide shows as a prediction one past the
// end that the plain coder clamps.
TEST(ImaAdpcmAgainstReference, LargestOvershootsNextToTheRangeEnds) {
  for (int index : {80, 86, 88}) {
    const int step = ImaReference::kStep[index];
    const int half = step >> 1, quarter = step >> 2;
    const int thresholds[] = {quarter,        half,        half + quarter,       step,
                              step + quarter, step + half, step + half + quarter};
    for (int x = -32768; x <= 32767; ++x) {
      if (x > -28672 && x < 28671) x = 28671;
      for (int threshold : thresholds) {
        for (int p : {x - threshold - 1, x - threshold, x - threshold + 1, x + threshold - 1,
                      x + threshold, x + threshold + 1}) {
          if (p < -32768 || p > 32767) continue;
          for (int n : {1, 2}) {
            ImaReference ref;
            ref.predictor = p;
            ref.stepIndex = index;
            const std::vector<int16_t> pcm(static_cast<size_t>(n), static_cast<int16_t>(x));
            const auto want = ref.Encode(pcm.data(), n);
            ImaAdpcmState s{static_cast<int16_t>(p), static_cast<int8_t>(index)};
            const auto got = Encode(pcm, s);
            if (got != want || s.predictor != ref.predictor || s.stepIndex != ref.stepIndex) {
              FAIL() << "index " << index << " p " << p << " x " << x << " n " << n
                     << ": predictor " << s.predictor << " want " << ref.predictor;
            }
          }
        }
      }
    }
  }
}

// Long streams right at the edge of the clamp-free range and one past it,
// where blocks switch between the two ways of coding, in calls of any size.
TEST(ImaAdpcmAgainstReference, StreamsAtTheEdgeOfTheClampFreeRange) {
  std::mt19937 rng(4095);
  for (int margin : {0, 1}) {
    const int lo = -28673 - margin, hi = 28672 + margin;
    std::uniform_int_distribution<int> noise(lo, hi);
    std::vector<int16_t> pcm(60000);
    for (size_t i = 0; i < pcm.size(); ++i) {
      // Alternating stretches of noise and of a square wave between the ends.
      const bool square = (i / 5000) % 2 != 0;
      pcm[i] = static_cast<int16_t>(square ? ((i / (3 + i / 10000)) % 2 ? lo : hi) : noise(rng));
    }
    ImaReference refEnc;
    ImaAdpcmState enc{0, 0}, dec{0, 0};
    for (size_t pos = 0; pos < pcm.size();) {
      const int n = std::min(rng() % 4 == 0 ? 160 : static_cast<int>(rng() % 97) + 1,
                             static_cast<int>(pcm.size() - pos));
      const std::vector<int16_t> chunk(pcm.begin() + static_cast<long>(pos),
                                       pcm.begin() + static_cast<long>(pos) + n);
      const auto bytes = Encode(chunk, enc);
      ASSERT_EQ(bytes, refEnc.Encode(chunk.data(), n)) << "margin " << margin << " at " << pos;
      ASSERT_EQ(enc.predictor, refEnc.predictor);
      ASSERT_EQ(enc.stepIndex, refEnc.stepIndex);
      Decode(bytes, n, dec);
      ASSERT_EQ(dec.predictor, enc.predictor);
      ASSERT_EQ(dec.stepIndex, enc.stepIndex);
      pos += static_cast<size_t>(n);
    }
  }
}

// ---- Through the exported API ------------------------------------------

// An encoder and a decoder that start from reset blocks stay in step frame by
// frame, and both agree with the plain coder, over long seeded streams.
TEST(ImaAdpcmLockstep, EncoderAndDecoderBlocksStayEqualAfterEveryFrame) {
  std::mt19937 rng(77);
  for (Signal kind : testing::ALL_SIGNALS) {
    for (int round = 0; round < 3; ++round) {
      const auto pcm = MakeSignal(kind, 8000 * 6, static_cast<uint32_t>(rng()));
      VoiceCodecState enc, dec;
      ASSERT_EQ(ZELK_VOICE_EncReset(&enc, IMA_ADPCM), VOICE_OK);
      ASSERT_EQ(ZELK_VOICE_DecReset(&dec, IMA_ADPCM), VOICE_OK);
      ImaReference ref;
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
      int16_t out[ZELK_VOICE_MAX_SAMPLES];
      for (size_t pos = 0;;) {
        const int n = 80 * static_cast<int>(rng() % 6 + 1);
        if (pos + static_cast<size_t>(n) > pcm.size()) break;
        ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, pcm.data() + pos, frame, n, IMA_ADPCM), VOICE_OK);
        ASSERT_EQ(testing::LoadWireWord(&frame[0]), 0x0100);
        ASSERT_EQ(testing::LoadWireWord(&frame[1]), n / 4);
        const auto want = ref.Encode(pcm.data() + pos, n);
        ASSERT_EQ(std::memcmp(frame + 2, want.data(), want.size()), 0)
            << SignalName(kind) << " at " << pos;
        int16_t count = 0;
        ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, frame, out, IMA_ADPCM, &count), VOICE_OK);
        ASSERT_EQ(count, n);
        ASSERT_EQ(std::memcmp(&enc, &dec, 3), 0) << SignalName(kind) << " at " << pos;
        ASSERT_EQ(out[n - 1], ref.predictor);
        pos += static_cast<size_t>(n);
      }
    }
  }
}

// ---- Committed vectors -------------------------------------------------

std::vector<unsigned char> ReadFile(const std::string& name) {
  std::ifstream in(std::string(ZELK_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int16_t> Samples(const std::vector<unsigned char>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return out;
}

// PCM in, frames out and PCM decoded, written by the plain coder (see
// make_ima_vectors.cpp), replayed frame by frame through the exported API.
TEST(ImaAdpcmVectors, CommittedStreamsReplayExactly) {
  const auto pcm = Samples(ReadFile("ima_adpcm_pcm.raw"));
  const auto frames = ReadFile("ima_adpcm_frames.bin");
  const auto decoded = Samples(ReadFile("ima_adpcm_decoded.raw"));
  ASSERT_EQ(pcm.size(), 1920u);
  ASSERT_EQ(decoded.size(), pcm.size());
  ASSERT_EQ(frames.size(), pcm.size() / 2 + 4 * 12);

  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, IMA_ADPCM);
  ZELK_VOICE_DecReset(&dec, IMA_ADPCM);
  size_t pos = 0, at = 0;
  while (pos < pcm.size()) {
    const int n = (frames[at + 2] | frames[at + 3] << 8) * 4;
    const size_t frameBytes = 4 + static_cast<size_t>(n) / 2;
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, pcm.data() + pos, frame, n, IMA_ADPCM), VOICE_OK);
    ASSERT_EQ(std::memcmp(frame, frames.data() + at, frameBytes), 0) << "frame at sample " << pos;

    std::memcpy(frame, frames.data() + at, frameBytes);
    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, frame, out, IMA_ADPCM, &count), VOICE_OK);
    ASSERT_EQ(count, n);
    ASSERT_EQ(std::memcmp(out, decoded.data() + pos, 2 * static_cast<size_t>(n)), 0)
        << "frame at sample " << pos;
    pos += static_cast<size_t>(n);
    at += frameBytes;
  }
  EXPECT_EQ(at, frames.size());
}

}  // namespace
}  // namespace zelk
