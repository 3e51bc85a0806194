// The concealing receiver: its output without loss against the plain
// engine decoder on long real-speech streams, the properties of concealment
// (silence by 60 ms, bounded steps at both edges of a gap, the same output
// however a gap is cut into calls, a periodic signal continued in phase),
// DVI4 resynchronisation, IMA ADPCM and two-bit recovery, and every refused
// argument leaving every buffer and the block as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "frame_bytes.h"
#include "raw_recording.h"
#include "rtp_test_support.h"

namespace {

using zelk::rtp_test::ALL_CODECS;
using zelk::rtp_test::FRAME_SIZES;
using zelk::rtp_test::Guarded;

constexpr uint8_t BLOCK_CANARY = 0x5C;
constexpr int16_t PCM_CANARY = 0x7A5A;
constexpr size_t COUNT_CANARY = 0xC0FFEE;
constexpr size_t BLOCK_GUARD = 64;

// A receiver block with guard bytes past ZELK_RTP_RECEIVER_SIZE.
struct alignas(8) RxBlock {
  uint8_t bytes[ZELK_RTP_RECEIVER_SIZE + BLOCK_GUARD];
  RxBlock() { std::memset(bytes, BLOCK_CANARY, sizeof bytes); }
  void* data() { return bytes; }
  bool GuardUntouched() const {
    return std::all_of(bytes + ZELK_RTP_RECEIVER_SIZE, bytes + sizeof bytes,
                       [](uint8_t b) { return b == BLOCK_CANARY; });
  }
  bool operator==(const RxBlock& o) const { return std::memcmp(bytes, o.bytes, sizeof bytes) == 0; }
};

std::vector<int16_t> ReadRecording(const char* name) {
  return zelk::testing::ReadRawRecording(std::string("/usr/share/codec2/raw/") + name + ".raw");
}

// Several voices, male and female, clean and over the air: about 25 s.
const std::vector<std::vector<int16_t>>& Speech() {
  static const auto all = [] {
    std::vector<std::vector<int16_t>> v;
    for (const char* name : {"hts1a", "hts2a", "forig", "morig", "kristoff", "ve9qrp_10s"}) {
      auto s = ReadRecording(name);
      if (!s.empty()) v.push_back(std::move(s));
    }
    return v;
  }();
  return all;
}

// A stream of frames of n samples each, and its loss-free decode.
struct Stream {
  std::vector<std::vector<uint16_t>> frames;
  std::vector<int16_t> decoded;
};

Stream EncodeFrames(const std::vector<int16_t>& pcm, int32_t codec, int32_t n) {
  Stream s;
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, codec);
  ZELK_VOICE_DecReset(&dec, codec);
  for (size_t at = 0; at + static_cast<size_t>(n) <= pcm.size(); at += static_cast<size_t>(n)) {
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    EXPECT_EQ(ZELK_VOICE_EncodeFrame(&enc, &pcm[at], frame, n, codec), VOICE_OK);
    s.frames.emplace_back(frame, frame + 2 + (zelk::testing::LoadWireWord(&frame[1]) & 0xFF));
    int16_t out[ZELK_VOICE_MAX_SAMPLES], count = 0;
    EXPECT_EQ(ZELK_VOICE_DecodeFrame(&dec, frame, out, codec, &count), VOICE_OK);
    s.decoded.insert(s.decoded.end(), out, out + count);
  }
  return s;
}

void Reset(RxBlock& rx, int32_t codec) {
  ASSERT_EQ(ZELK_RTP_ReceiverReset(rx.data(), ZELK_RTP_RECEIVER_SIZE, codec), ZELK_RTP_OK);
}

// One frame through the receiver, with canaries around its output.
std::vector<int16_t> Receive(RxBlock& rx, const std::vector<uint16_t>& frame) {
  Guarded<int16_t> pcm(ZELK_VOICE_MAX_SAMPLES, PCM_CANARY);
  size_t count = COUNT_CANARY;
  EXPECT_EQ(ZELK_RTP_ReceiveFrame(rx.data(), ZELK_RTP_RECEIVER_SIZE, frame.data(), 2 * frame.size(),
                                  pcm.data(), pcm.size(), &count),
            ZELK_RTP_OK);
  EXPECT_TRUE(pcm.GuardUntouched(count)) << "written past the frame's samples";
  EXPECT_TRUE(rx.GuardUntouched());
  return std::vector<int16_t>(pcm.v.begin(), pcm.v.begin() + static_cast<ptrdiff_t>(count));
}

std::vector<int16_t> Conceal(RxBlock& rx, int32_t n) {
  Guarded<int16_t> pcm(static_cast<size_t>(n), PCM_CANARY);
  EXPECT_EQ(ZELK_RTP_ConcealLoss(rx.data(), ZELK_RTP_RECEIVER_SIZE, n, pcm.data(), pcm.size()),
            ZELK_RTP_OK);
  EXPECT_TRUE(pcm.GuardUntouched(static_cast<size_t>(n)));
  EXPECT_TRUE(rx.GuardUntouched());
  return std::vector<int16_t>(pcm.v.begin(), pcm.v.begin() + n);
}

void Append(std::vector<int16_t>& to, const std::vector<int16_t>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// --- no loss: the engine's samples, bit for bit ---------------------------

TEST(ReceiverWithoutLoss, FramesDecodeAsTheEngineDoesForEveryCodecAndSize) {
  ASSERT_FALSE(Speech().empty()) << "codec2-examples recordings missing";
  for (int32_t codec : ALL_CODECS) {
    for (int32_t n : FRAME_SIZES) {
      for (const auto& speech : Speech()) {
        const Stream s = EncodeFrames(speech, codec, n);
        RxBlock rx;
        Reset(rx, codec);
        std::vector<int16_t> out;
        for (const auto& frame : s.frames) Append(out, Receive(rx, frame));
        ASSERT_EQ(out, s.decoded) << "codec " << codec << ", " << n << " samples a frame";
      }
    }
  }
}

TEST(ReceiverWithoutLoss, PayloadsDecodeAsTheirDecoderDoes) {
  // G.711 packets of any length, the coders with memory of every frame size,
  // sizes changing from packet to packet.
  const auto& speech = Speech().front();
  std::mt19937 rng(7);
  for (int32_t codec : ALL_CODECS) {
    VoiceCodecState enc, dec;
    ZELK_VOICE_EncReset(&enc, codec);
    ZELK_VOICE_DecReset(&dec, codec);
    RxBlock rx;
    Reset(rx, codec);
    size_t at = 0;
    while (true) {
      const int32_t n =
          codec <= G711_ULAW ? static_cast<int32_t>(1 + rng() % 480) : FRAME_SIZES[rng() % 6];
      if (at + static_cast<size_t>(n) > speech.size()) break;
      uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
      size_t bytes = 0, count = 0, got = COUNT_CANARY;
      ASSERT_EQ(
          ZELK_RTP_EncodePayload(&enc, &speech[at], n, codec, payload, sizeof payload, &bytes),
          ZELK_RTP_OK);
      int16_t want[ZELK_VOICE_MAX_SAMPLES];
      ASSERT_EQ(ZELK_RTP_DecodePayload(&dec, payload, bytes, codec, want, 480, &count),
                ZELK_RTP_OK);
      Guarded<int16_t> pcm(static_cast<size_t>(n), PCM_CANARY);
      ASSERT_EQ(ZELK_RTP_ReceivePayload(rx.data(), ZELK_RTP_RECEIVER_SIZE, payload, bytes,
                                        pcm.data(), pcm.size(), &got),
                ZELK_RTP_OK);
      ASSERT_EQ(got, static_cast<size_t>(n));
      ASSERT_TRUE(std::equal(want, want + n, pcm.data())) << "codec " << codec << " at " << at;
      ASSERT_TRUE(pcm.GuardUntouched(got));
      at += static_cast<size_t>(n);
    }
  }
}

// --- concealment -----------------------------------------------------------

// A receiver that has played the first `frames` frames of a stream.
RxBlock Primed(const Stream& s, int32_t codec, size_t frames, std::vector<int16_t>* played) {
  RxBlock rx;
  Reset(rx, codec);
  for (size_t f = 0; f < frames; ++f) {
    auto pcm = Receive(rx, s.frames[f]);
    if (played) Append(*played, pcm);
  }
  return rx;
}

TEST(Concealment, SilentFrom60msOfContinuousLossOn) {
  for (int32_t codec : ALL_CODECS) {
    for (int32_t n : FRAME_SIZES) {
      const Stream s = EncodeFrames(Speech().front(), codec, n);
      for (size_t at = 10; at + 1 < s.frames.size(); at += 7) {
        RxBlock rx = Primed(s, codec, at, nullptr);
        std::vector<int16_t> gap;
        while (gap.size() < 480 + 2 * static_cast<size_t>(n)) Append(gap, Conceal(rx, n));
        for (size_t i = 480; i < gap.size(); ++i) {
          ASSERT_EQ(gap[i], 0) << "codec " << codec << ", frame " << at << ", sample " << i;
        }
      }
    }
  }
}

TEST(Concealment, FillsTheGapFromTheHistoryAtFullLevelFirst) {
  // Voiced speech does not turn into silence at once: over the first 5 ms of
  // a gap the level stays that of the last 20 ms played (a copied period may
  // be louder or softer than the average, so the median over many gaps).
  const Stream s = EncodeFrames(Speech().front(), G711_ULAW, 160);
  std::vector<double> ratios;
  for (size_t at = 10; at + 1 < s.frames.size(); ++at) {
    std::vector<int16_t> played;
    RxBlock rx = Primed(s, G711_ULAW, at, &played);
    double before = 0, after = 0;
    for (size_t i = played.size() - 160; i < played.size(); ++i) {
      before += static_cast<double>(played[i]) * played[i] / 160;
    }
    for (int16_t v : Conceal(rx, 40)) after += static_cast<double>(v) * v / 40;
    if (before > 1e6) ratios.push_back(after / before);  // RMS 1000 and more only
  }
  ASSERT_GT(ratios.size(), 20u);
  std::sort(ratios.begin(), ratios.end());
  EXPECT_GT(ratios[ratios.size() / 2], 0.5);
  EXPECT_LT(ratios[ratios.size() / 2], 2.0);
}

TEST(Concealment, SameSamplesHoweverTheGapIsCutIntoCalls) {
  // The gap's schedule (loops of more periods, the fade, the silence, the
  // join) runs on samples, not on calls.
  const Stream s = EncodeFrames(Speech().front(), G711_ALAW, 160);
  std::mt19937 rng(3);
  for (size_t at : {12u, 40u, 77u, 101u}) {
    for (int total : {1, 13, 100, 160, 333, 480, 700}) {
      RxBlock whole = Primed(s, G711_ALAW, at, nullptr);
      RxBlock pieces = whole;
      std::vector<int16_t> a, b;
      for (int left = total; left > 0; left -= 480) Append(a, Conceal(whole, std::min(left, 480)));
      for (int left = total; left > 0;) {
        const int n = std::min<int>(left, 1 + static_cast<int>(rng() % 97));
        Append(b, Conceal(pieces, n));
        left -= n;
      }
      ASSERT_EQ(a, b) << "gap of " << total << " at frame " << at;
      ASSERT_EQ(Receive(whole, s.frames[at + 1]), Receive(pieces, s.frames[at + 1]));
      for (size_t i = 0; i < sizeof whole.bytes; ++i) {
        ASSERT_EQ(whole.bytes[i], pieces.bytes[i]) << "byte " << i << ", gap " << total;
      }
    }
  }
}

TEST(Concealment, ContinuesAPeriodicSignalInPhase) {
  // A periodic signal of period p (harmonics of 8000/p Hz) is continued as
  // itself, 4 samples late (the speed ramp at the start), within the noise
  // of mu-law coding: the pitch search found p or a multiple of it, and the
  // copy is aligned with what was played. Periods below 40 samples are
  // repeated in multiples.
  for (int period : {25, 40, 57, 80, 101, 120}) {
    std::vector<int16_t> pcm(4000);
    for (size_t i = 0; i < pcm.size(); ++i) {
      const double t =
          2 * std::numbers::pi * static_cast<double>(i % static_cast<size_t>(period)) / period;
      pcm[i] = static_cast<int16_t>(std::lround(6000 * std::sin(t) + 2500 * std::sin(2 * t + 1) +
                                                1200 * std::sin(5 * t + 2)));
    }
    const Stream s = EncodeFrames(pcm, G711_ULAW, 160);
    RxBlock rx = Primed(s, G711_ULAW, 20, nullptr);
    const auto gap = Conceal(rx, 160);
    double error = 0, signal = 0;
    for (size_t i = 8; i < 40; ++i) {  // after the ramp, before the fade
      const double want = s.decoded[20 * 160 + i - 4];
      error += (gap[i] - want) * (gap[i] - want);
      signal += want * want;
    }
    EXPECT_LT(std::sqrt(error / signal), 0.03) << "period " << period;
  }
}

// The largest step between neighbouring samples at the start and at the end
// of gaps of every length, over real speech, and the largest step anywhere
// in the loss-free decode of the same speech.
struct Steps {
  int atStart = 0, atJoin = 0, natural = 0;
};

Steps MeasureSteps(int32_t codec) {
  Steps steps;
  for (const auto& speech : Speech()) {
    const Stream s = EncodeFrames(speech, codec, 160);
    for (size_t i = 1; i < s.decoded.size(); ++i) {
      steps.natural = std::max(steps.natural, std::abs(s.decoded[i] - s.decoded[i - 1]));
    }
    RxBlock rx;
    Reset(rx, codec);
    int16_t last = 0;
    int gapFrames = 0;
    std::mt19937 rng(11);
    for (size_t f = 0; f < s.frames.size(); ++f) {
      const bool lose = f > 5 && rng() % 4 == 0;
      const auto pcm = lose ? Conceal(rx, 160) : Receive(rx, s.frames[f]);
      if (lose && gapFrames == 0) steps.atStart = std::max(steps.atStart, std::abs(pcm[0] - last));
      if (!lose && gapFrames > 0) steps.atJoin = std::max(steps.atJoin, std::abs(pcm[0] - last));
      gapFrames = lose ? gapFrames + 1 : 0;
      last = pcm.back();
    }
  }
  return steps;
}

// Measured over these 25 s of speech (a quarter of the frames lost, gaps of
// every length): the largest step at the start of a gap is 1116..2044 and at
// a join 768..1189 depending on the codec, while the loss-free decode itself
// steps by up to 27794..34560. The bound stated for the receiver: no step at
// an edge of a gap above 3000 on speech.
constexpr int EDGE_STEP_BOUND = 3000;

TEST(Concealment, StepsAtBothEdgesOfAGapStayBelowTheBound) {
  for (int32_t codec : ALL_CODECS) {
    const Steps steps = MeasureSteps(codec);
    EXPECT_LE(steps.atStart, EDGE_STEP_BOUND) << "codec " << codec;
    EXPECT_LE(steps.atJoin, EDGE_STEP_BOUND) << "codec " << codec;
    EXPECT_GT(steps.natural, 4 * EDGE_STEP_BOUND) << "codec " << codec;
    std::printf("codec %d: largest step at a gap's start %d, at its join %d, in the speech %d\n",
                codec, steps.atStart, steps.atJoin, steps.natural);
  }
}

TEST(Concealment, FullScaleSquareWaveStaysBounded) {
  // The worst a 16-bit signal can do: full-scale steps in the history. The
  // first concealed sample moves a ninth of the way to the copy, and a join
  // starts 1/9 of the way to the continued copy with the frame weighing at
  // most 2.3%: |step| <= 65535 / 9 + 0.023 * 65535 < 8800.
  std::vector<int16_t> pcm(3200);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (i / 3) % 2 ? int16_t{32767} : int16_t{-32768};
  for (int32_t codec : ALL_CODECS) {
    const Stream s = EncodeFrames(pcm, codec, 80);
    for (size_t at = 3; at + 2 < s.frames.size(); at += 3) {
      std::vector<int16_t> played;
      RxBlock rx = Primed(s, codec, at, &played);
      for (int lost : {1, 5, 79, 80}) {
        RxBlock r = rx;
        const auto gap = Conceal(r, lost);
        const auto next = Receive(r, s.frames[at + 1]);
        EXPECT_LT(std::abs(gap[0] - played.back()), 8800);
        EXPECT_LT(std::abs(next[0] - gap.back()), 8800);
      }
    }
  }
}

TEST(Concealment, AFreshReceiverConcealsSilence) {
  for (int32_t codec : ALL_CODECS) {
    RxBlock rx;
    Reset(rx, codec);
    for (int16_t v : Conceal(rx, 480)) ASSERT_EQ(v, 0);
  }
}

TEST(Concealment, ShortPacketsAfterAGapJoinWithinThemselves) {
  // G.711 payloads may hold a single sample; the join fits in what there is
  // and the packets after it are the decoder's again.
  const auto& speech = Speech().front();
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, G711_ULAW);
  ZELK_VOICE_DecReset(&dec, G711_ULAW);
  RxBlock rx;
  Reset(rx, G711_ULAW);
  size_t at = 0;
  for (int k = 0; k < 200; ++k) {
    const int32_t n = k % 10 == 0 ? 160 : 1 + k % 7;
    uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
    size_t bytes = 0, count = 0;
    ASSERT_EQ(
        ZELK_RTP_EncodePayload(&enc, &speech[at], n, G711_ULAW, payload, sizeof payload, &bytes),
        ZELK_RTP_OK);
    at += static_cast<size_t>(n);
    if (k % 10 == 0) {
      Conceal(rx, n);
      continue;
    }
    int16_t pcm[480], want[480];
    ASSERT_EQ(ZELK_RTP_DecodePayload(&dec, payload, bytes, G711_ULAW, want, 480, &count),
              ZELK_RTP_OK);
    ASSERT_EQ(ZELK_RTP_ReceivePayload(rx.data(), ZELK_RTP_RECEIVER_SIZE, payload, bytes, pcm, 480,
                                      &count),
              ZELK_RTP_OK);
    ASSERT_EQ(count, static_cast<size_t>(n));
    if (k % 10 >= 2) {  // past the join
      ASSERT_TRUE(std::equal(want, want + n, pcm)) << k;
    }
  }
}

TEST(Concealment, AnyFrameSizeAndMixedSizesKeepTheBlockInBounds) {
  // Streams whose frame size changes from frame to frame, gaps of any length,
  // every codec: the guard bytes past the block and past every buffer stay.
  std::mt19937 rng(5);
  for (int32_t codec : ALL_CODECS) {
    VoiceCodecState enc;
    ZELK_VOICE_EncReset(&enc, codec);
    RxBlock rx;
    Reset(rx, codec);
    const auto& speech = Speech().back();
    size_t at = 0;
    while (true) {
      const int32_t n = FRAME_SIZES[rng() % 6];
      if (at + static_cast<size_t>(n) > speech.size()) break;
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
      ZELK_VOICE_EncodeFrame(&enc, &speech[at], frame, n, codec);
      at += static_cast<size_t>(n);
      if (rng() % 3 == 0) {
        Conceal(rx, static_cast<int32_t>(1 + rng() % 480));
      } else {
        const auto pcm =
            Receive(rx, std::vector<uint16_t>(
                            frame, frame + 2 + (zelk::testing::LoadWireWord(&frame[1]) & 0xFF)));
        ASSERT_EQ(pcm.size(), static_cast<size_t>(n));
      }
    }
  }
}

// --- recovery of the coders with memory ---------------------------------------

// RMS error over the second after a single lost 20 ms frame, as % of the
// recording's RMS, for every other frame: the median over all positions.
double MedianRecoveryError(int32_t codec, bool receiver) {
  std::vector<double> errors;
  for (const auto& speech : Speech()) {
    const Stream s = EncodeFrames(speech, codec, 160);
    double rms = 0;
    for (int16_t v : speech) rms += static_cast<double>(v) * v;
    rms = std::sqrt(rms / static_cast<double>(speech.size()));
    RxBlock rx;
    Reset(rx, codec);
    VoiceCodecState dec;
    ZELK_VOICE_DecReset(&dec, codec);
    for (size_t lost = 0; lost + 52 < s.frames.size(); ++lost) {
      if (lost >= 10 && lost % 2 == 0) {
        RxBlock r = rx;
        VoiceCodecState d = dec;
        if (receiver) Conceal(r, 160);
        double sum = 0;
        for (size_t f = lost + 1; f <= lost + 50; ++f) {
          std::vector<int16_t> pcm(160);
          if (receiver) {
            pcm = Receive(r, s.frames[f]);
          } else {
            int16_t n = 0;
            ZELK_VOICE_DecodeFrame(&d, s.frames[f].data(), pcm.data(), codec, &n);
          }
          for (size_t i = 0; i < 160; ++i) {
            const double e = pcm[i] - s.decoded[f * 160 + i];
            sum += e * e;
          }
        }
        errors.push_back(100 * std::sqrt(sum / 8000) / rms);
      }
      Receive(rx, s.frames[lost]);
      int16_t out[480], n = 0;
      ZELK_VOICE_DecodeFrame(&dec, s.frames[lost].data(), out, codec, &n);
    }
  }
  std::sort(errors.begin(), errors.end());
  return errors[errors.size() / 2];
}

TEST(Recovery, ImaOverFramesComesBackNearTheSender) {
  // Measured: the plain decoder that goes on after a lost frame is off by
  // some 80% of the speech's RMS over the next second; the receiver, which
  // re-estimates the step index and removes the predictor's offset, by about
  // 30%. Each side gets a margin.
  const double plain = MedianRecoveryError(IMA_ADPCM, false);
  const double ours = MedianRecoveryError(IMA_ADPCM, true);
  std::printf("IMA ADPCM over frames: median error %.1f%% plain, %.1f%% receiver\n", plain, ours);
  EXPECT_GT(plain, 60);
  EXPECT_LT(ours, 40);
}

TEST(Recovery, TwoBitCodecConvergesWithinASecond) {
  const double ours = MedianRecoveryError(ADPCM_2BIT, true);
  std::printf("two-bit ADPCM over frames: median error %.1f%% receiver\n", ours);
  EXPECT_LT(ours, 12);
}

TEST(Recovery, Dvi4IsExactFromTheNextPacketOn) {
  // Every packet carries the coder's state: after a lost packet, the next one
  // and every one after it is the loss-free decode, from its first sample.
  const auto& speech = Speech().front();
  for (int32_t n : FRAME_SIZES) {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int16_t> decoded;
    VoiceCodecState enc, dec;
    ZELK_VOICE_EncReset(&enc, IMA_ADPCM);
    ZELK_VOICE_DecReset(&dec, IMA_ADPCM);
    for (size_t at = 0; at + static_cast<size_t>(n) <= speech.size();
         at += static_cast<size_t>(n)) {
      std::vector<uint8_t> p(ZELK_RTP_MAX_PAYLOAD_BYTES);
      size_t bytes = 0, count = 0;
      ZELK_RTP_EncodePayload(&enc, &speech[at], n, IMA_ADPCM, p.data(), p.size(), &bytes);
      p.resize(bytes);
      int16_t out[480];
      ZELK_RTP_DecodePayload(&dec, p.data(), bytes, IMA_ADPCM, out, 480, &count);
      decoded.insert(decoded.end(), out, out + count);
      packets.push_back(p);
    }
    for (size_t lost = 3; lost + 3 < packets.size(); lost += 5) {
      RxBlock rx;
      Reset(rx, IMA_ADPCM);
      for (size_t k = 0; k < lost + 3; ++k) {
        if (k == lost) {
          Conceal(rx, n);
          continue;
        }
        int16_t pcm[480];
        size_t count = 0;
        ASSERT_EQ(ZELK_RTP_ReceivePayload(rx.data(), ZELK_RTP_RECEIVER_SIZE, packets[k].data(),
                                          packets[k].size(), pcm, 480, &count),
                  ZELK_RTP_OK);
        for (size_t i = 0; i < count; ++i) {
          ASSERT_EQ(pcm[i], decoded[k * static_cast<size_t>(n) + i]) << "packet " << k << ", " << i;
        }
      }
    }
  }
}

// --- refused arguments: the status, and nothing written ----------------------------

struct Refusal {
  RxBlock rx;
  RxBlock before;
  Guarded<int16_t> pcm{480, PCM_CANARY};
  size_t count = COUNT_CANARY;

  explicit Refusal(int32_t codec) {
    Reset(rx, codec);
    const Stream s = EncodeFrames(Speech().front(), codec, 160);
    for (size_t f = 0; f < 30; ++f) Receive(rx, s.frames[f]);
    Conceal(rx, 100);  // in a gap: the refused call must not end it either
    before = rx;
  }
  void ExpectUntouched() {
    EXPECT_TRUE(rx == before) << "the block changed";
    EXPECT_TRUE(pcm.Untouched()) << "samples written";
    EXPECT_EQ(count, COUNT_CANARY) << "count written";
  }
};

uint32_t ReceiveFrameRaw(Refusal& t, const uint16_t* frame, size_t bytes, size_t capacity = 480) {
  return ZELK_RTP_ReceiveFrame(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, frame, bytes, t.pcm.data(),
                               capacity, &t.count);
}

TEST(ReceiverRefuses, ResetArguments) {
  RxBlock rx;
  const RxBlock before = rx;
  EXPECT_EQ(ZELK_RTP_ReceiverReset(nullptr, ZELK_RTP_RECEIVER_SIZE, G711_ALAW),
            ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(ZELK_RTP_ReceiverReset(nullptr, 0, 0), ZELK_RTP_ERR_NULL_STATE);  // null first
  EXPECT_EQ(ZELK_RTP_ReceiverReset(rx.data(), ZELK_RTP_RECEIVER_SIZE - 1, G711_ALAW),
            ZELK_RTP_ERR_STATE_SIZE);
  EXPECT_EQ(ZELK_RTP_ReceiverReset(rx.data(), 0, 9), ZELK_RTP_ERR_STATE_SIZE);  // size before type
  for (int32_t codec : {0, 5, -1, 0x10001, 0x10003}) {
    EXPECT_EQ(ZELK_RTP_ReceiverReset(rx.data(), ZELK_RTP_RECEIVER_SIZE, codec), ZELK_RTP_ERR_CODEC)
        << codec;
  }
  EXPECT_TRUE(rx == before);
  // A larger block is fine, and nothing past ZELK_RTP_RECEIVER_SIZE is written.
  EXPECT_EQ(ZELK_RTP_ReceiverReset(rx.data(), sizeof rx.bytes, ADPCM_2BIT), ZELK_RTP_OK);
  EXPECT_TRUE(rx.GuardUntouched());
}

TEST(ReceiverRefuses, FrameArguments) {
  for (int32_t codec : ALL_CODECS) {
    Refusal t(codec);
    const Stream s = EncodeFrames(Speech().front(), codec, 160);
    std::vector<uint16_t> frame = s.frames[30];
    const size_t bytes = 2 * frame.size();
    size_t count = COUNT_CANARY;
    EXPECT_EQ(ZELK_RTP_ReceiveFrame(nullptr, ZELK_RTP_RECEIVER_SIZE, frame.data(), bytes,
                                    t.pcm.data(), 480, &count),
              ZELK_RTP_ERR_NULL_STATE);
    EXPECT_EQ(ReceiveFrameRaw(t, nullptr, bytes), ZELK_RTP_ERR_NULL_INPUT);
    EXPECT_EQ(ZELK_RTP_ReceiveFrame(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, frame.data(), bytes,
                                    nullptr, 480, &t.count),
              ZELK_RTP_ERR_NULL_OUTPUT);
    EXPECT_EQ(ZELK_RTP_ReceiveFrame(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, frame.data(), bytes,
                                    t.pcm.data(), 480, nullptr),
              ZELK_RTP_ERR_NULL_OUTPUT);
    EXPECT_EQ(ZELK_RTP_ReceiveFrame(t.rx.data(), ZELK_RTP_RECEIVER_SIZE - 8, frame.data(), bytes,
                                    t.pcm.data(), 480, &t.count),
              ZELK_RTP_ERR_STATE_SIZE);
    // Frames: too short to hold a header, header bits 8-9 not 01, a length
    // byte the codec has no frame for, fewer bytes than the length byte says.
    EXPECT_EQ(ReceiveFrameRaw(t, frame.data(), 3), ZELK_RTP_ERR_FRAME);
    EXPECT_EQ(ReceiveFrameRaw(t, frame.data(), bytes - 1), ZELK_RTP_ERR_FRAME);
    for (uint16_t header : {0x0000, 0x0200, 0x0300, 0xFE00}) {
      std::vector<uint16_t> bad = frame;
      zelk::testing::StoreWireWord(&bad[0], header);
      EXPECT_EQ(ReceiveFrameRaw(t, bad.data(), bytes), ZELK_RTP_ERR_FRAME) << header;
    }
    for (uint16_t length : {0, 1, 7, 241, 255}) {
      std::vector<uint16_t> bad = frame;
      bad.resize(2 + 255);
      zelk::testing::StoreWireWord(&bad[1], length);
      EXPECT_EQ(ReceiveFrameRaw(t, bad.data(), 2 * bad.size()), ZELK_RTP_ERR_FRAME) << length;
    }
    // Room for one sample less than the frame holds.
    EXPECT_EQ(ReceiveFrameRaw(t, frame.data(), bytes, 159), ZELK_RTP_ERR_CAPACITY);
    t.ExpectUntouched();
    // What the engine ignores is ignored here too: other header bits, the
    // length word's high byte, bytes past the frame.
    std::vector<uint16_t> odd = frame;
    zelk::testing::StoreWireWord(&odd[0], 0xFD01);
    zelk::testing::StoreWireWord(
        &odd[1], static_cast<uint16_t>(zelk::testing::LoadWireWord(&odd[1]) | 0x3300));
    odd.push_back(0xBEEF);
    EXPECT_EQ(ReceiveFrameRaw(t, odd.data(), 2 * odd.size()), ZELK_RTP_OK);
    EXPECT_EQ(t.count, 160u);
  }
}

TEST(ReceiverRefuses, PayloadArguments) {
  for (int32_t codec : ALL_CODECS) {
    Refusal t(codec);
    VoiceCodecState enc;
    ZELK_VOICE_EncReset(&enc, codec);
    uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
    size_t bytes = 0;
    ASSERT_EQ(ZELK_RTP_EncodePayload(&enc, Speech().front().data(), 160, codec, payload,
                                     sizeof payload, &bytes),
              ZELK_RTP_OK);
    auto call = [&](const uint8_t* p, size_t size, size_t capacity = 480) {
      return ZELK_RTP_ReceivePayload(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, p, size, t.pcm.data(),
                                     capacity, &t.count);
    };
    EXPECT_EQ(ZELK_RTP_ReceivePayload(nullptr, ZELK_RTP_RECEIVER_SIZE, payload, bytes, t.pcm.data(),
                                      480, &t.count),
              ZELK_RTP_ERR_NULL_STATE);
    EXPECT_EQ(call(nullptr, bytes), ZELK_RTP_ERR_NULL_INPUT);
    EXPECT_EQ(ZELK_RTP_ReceivePayload(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, payload, bytes, nullptr,
                                      480, &t.count),
              ZELK_RTP_ERR_NULL_OUTPUT);
    EXPECT_EQ(ZELK_RTP_ReceivePayload(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, payload, bytes,
                                      t.pcm.data(), 480, nullptr),
              ZELK_RTP_ERR_NULL_OUTPUT);
    EXPECT_EQ(
        ZELK_RTP_ReceivePayload(t.rx.data(), 100, payload, bytes, t.pcm.data(), 480, &t.count),
        ZELK_RTP_ERR_STATE_SIZE);
    EXPECT_EQ(call(payload, 0), ZELK_RTP_ERR_PAYLOAD_SIZE);
    EXPECT_EQ(call(payload, codec <= G711_ULAW ? 481 : bytes - 1), ZELK_RTP_ERR_PAYLOAD_SIZE);
    if (codec == IMA_ADPCM) {
      uint8_t bad[ZELK_RTP_MAX_PAYLOAD_BYTES];
      std::memcpy(bad, payload, bytes);
      bad[2] = 89;
      EXPECT_EQ(call(bad, bytes), ZELK_RTP_ERR_DVI4_INDEX);
      bad[3] = 1;  // the index is checked first
      EXPECT_EQ(call(bad, bytes), ZELK_RTP_ERR_DVI4_INDEX);
      bad[2] = payload[2];
      EXPECT_EQ(call(bad, bytes), ZELK_RTP_ERR_DVI4_RESERVED);
    }
    EXPECT_EQ(call(payload, bytes, 159), ZELK_RTP_ERR_CAPACITY);
    t.ExpectUntouched();
  }
}

TEST(ReceiverRefuses, ConcealArguments) {
  for (int32_t codec : ALL_CODECS) {
    Refusal t(codec);
    EXPECT_EQ(ZELK_RTP_ConcealLoss(nullptr, ZELK_RTP_RECEIVER_SIZE, 160, t.pcm.data(), 480),
              ZELK_RTP_ERR_NULL_STATE);
    EXPECT_EQ(ZELK_RTP_ConcealLoss(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, 160, nullptr, 480),
              ZELK_RTP_ERR_NULL_OUTPUT);
    EXPECT_EQ(ZELK_RTP_ConcealLoss(t.rx.data(), 2047, 160, t.pcm.data(), 480),
              ZELK_RTP_ERR_STATE_SIZE);
    for (int32_t n : {0, -1, -160, 481, 0x100A0, INT32_MIN}) {
      EXPECT_EQ(ZELK_RTP_ConcealLoss(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, n, t.pcm.data(), 480),
                ZELK_RTP_ERR_SAMPLES)
          << n;
    }
    EXPECT_EQ(ZELK_RTP_ConcealLoss(t.rx.data(), ZELK_RTP_RECEIVER_SIZE, 160, t.pcm.data(), 159),
              ZELK_RTP_ERR_CAPACITY);
    t.ExpectUntouched();
  }
}

TEST(ReceiverRefuses, BlocksItDidNotPrepare) {
  // A block never reset (zeros, random bytes), and a reset one whose record
  // was overwritten since: every call refuses it before using a field.
  std::mt19937 rng(17);
  const Stream s = EncodeFrames(Speech().front(), G711_ULAW, 160);
  std::vector<RxBlock> blocks(3);
  std::memset(blocks[0].bytes, 0, ZELK_RTP_RECEIVER_SIZE);
  for (size_t i = 0; i < ZELK_RTP_RECEIVER_SIZE; ++i)
    blocks[1].bytes[i] = static_cast<uint8_t>(rng());
  Reset(blocks[2], G711_ULAW);
  blocks[2].bytes[4] ^= 1;  // the version
  for (RxBlock& rx : blocks) {
    const RxBlock before = rx;
    Guarded<int16_t> pcm(480, PCM_CANARY);
    size_t count = COUNT_CANARY;
    EXPECT_EQ(ZELK_RTP_ReceiveFrame(rx.data(), ZELK_RTP_RECEIVER_SIZE, s.frames[0].data(),
                                    2 * s.frames[0].size(), pcm.data(), 480, &count),
              ZELK_RTP_ERR_NOT_RESET);
    uint8_t payload[160] = {};
    EXPECT_EQ(ZELK_RTP_ReceivePayload(rx.data(), ZELK_RTP_RECEIVER_SIZE, payload, 160, pcm.data(),
                                      480, &count),
              ZELK_RTP_ERR_NOT_RESET);
    EXPECT_EQ(ZELK_RTP_ConcealLoss(rx.data(), ZELK_RTP_RECEIVER_SIZE, 160, pcm.data(), 480),
              ZELK_RTP_ERR_NOT_RESET);
    EXPECT_TRUE(rx == before);
    EXPECT_TRUE(pcm.Untouched());
    EXPECT_EQ(count, COUNT_CANARY);
  }
}

TEST(ReceiverRefuses, RecordsWithFieldsOutOfRange) {
  // Every 16-bit word of a live record set to extreme values in turn: the
  // receiver either refuses the block or runs within its bounds (the guard
  // bytes and the buffers' canaries prove it; the sanitizers watch reads).
  const Stream s = EncodeFrames(Speech().front(), IMA_ADPCM, 160);
  RxBlock live;
  Reset(live, IMA_ADPCM);
  for (size_t f = 0; f < 20; ++f) Receive(live, s.frames[f]);
  Conceal(live, 37);
  size_t refused = 0;
  for (size_t at = 8; at + 2 <= ZELK_RTP_RECEIVER_SIZE; at += 2) {
    for (uint16_t v : {0x8000, 0x7FFF, 0xFFFF}) {
      RxBlock rx = live;
      std::memcpy(rx.bytes + at, &v, 2);
      Guarded<int16_t> pcm(480, PCM_CANARY);
      const uint32_t status =
          ZELK_RTP_ConcealLoss(rx.data(), ZELK_RTP_RECEIVER_SIZE, 480, pcm.data(), 480);
      size_t count = 0;
      const uint32_t next =
          ZELK_RTP_ReceiveFrame(rx.data(), ZELK_RTP_RECEIVER_SIZE, s.frames[21].data(),
                                2 * s.frames[21].size(), pcm.data(), 480, &count);
      ASSERT_TRUE(rx.GuardUntouched()) << at;
      ASSERT_TRUE(pcm.GuardUntouched(480)) << at;
      if (status == ZELK_RTP_ERR_NOT_RESET) {
        ++refused;
        EXPECT_EQ(next, ZELK_RTP_ERR_NOT_RESET);
      } else {
        EXPECT_EQ(status, ZELK_RTP_OK);
        EXPECT_EQ(next, ZELK_RTP_OK);
      }
    }
  }
  EXPECT_GT(refused, 20u);
}

}  // namespace
