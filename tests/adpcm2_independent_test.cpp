// The two-bit ADPCM coder held against the independent reference of
// adpcm2_independent_reference.h, which shares no code or table with it.
//
// First the reference itself on values worked out by hand, so that it does not
// merely restate the library. Then the library against it, through the
// exported frame functions and through the block functions (the fast step and
// the plain step side by side): on real speech from several speakers, on
// seeded noise, squares, clipping sines and constants, and from records that
// were never reset. After every frame or block the codes, the decoded samples
// and every field of every record must equal the reference's.
//
// ZELK_LONG_TEST_STRIDE=N runs 1/N of the data (see long_test_stride.h);
// ZELK_SPEECH_DIR names another folder of 8 kHz 16-bit little-endian raw
// recordings than Debian's codec2-examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "adpcm2_independent_reference.h"
#include "codec/adpcm2/adpcm2.h"
#include "long_test_stride.h"
#include "raw_recording.h"
#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

namespace ref = testing::adpcm2_ref;
using testing::Scaled;

// ===========================================================================
// The reference on values worked out by hand.

TEST(Adpcm2IndependentReference, PrimitivesOnHandWorkedValues) {
  const struct {
    int64_t x, log2;
  } kLogs[] = {{0, -128},    {1, 0},        {2, 128},      {3, 192},     {7, 352},
               {100, 840},   {127, 894},    {128, 896},    {4096, 1536}, {8191, 1663},
               {8192, 1664}, {32767, 1919}, {-32768, -128}};
  for (const auto& c : kLogs) EXPECT_EQ(ref::Log2(c.x), c.log2) << c.x;

  EXPECT_EQ(ref::Quantize(260, false).code, 0);
  EXPECT_EQ(ref::Quantize(260, false).dqln, 116);
  EXPECT_EQ(ref::Quantize(261, false).code, 1);
  EXPECT_EQ(ref::Quantize(261, false).dqln, 365);
  EXPECT_EQ(ref::Quantize(261, true).code, 2);
  EXPECT_EQ(ref::Quantize(261, true).dqln, 365);
  EXPECT_EQ(ref::Quantize(260, true).code, 3);
  EXPECT_EQ(ref::Quantize(-5, true).code, 3);

  const struct {
    int64_t dql, dq;
  } kLevels[] = {{252, 3},     {383, 7},      {384, 8},  {521, 17}, {1396, 1952},
                 {1645, 7584}, {1919, 32640}, {1920, 0}, {4095, 0}, {-1, 0}};
  for (const auto& c : kLevels) EXPECT_EQ(ref::Reconstruct(c.dql, false), c.dq) << c.dql;
  EXPECT_EQ(ref::Reconstruct(1645, true), -7584);
  for (int64_t dql = -2176; dql <= 4095; ++dql) {
    if (dql >= 0 && dql <= 1919) continue;
    ASSERT_EQ(ref::Reconstruct(dql, false), 0) << dql;
  }

  EXPECT_EQ(ref::UpdatePole2(0, 0, 0, 0, 0), 128);
  EXPECT_EQ(ref::UpdatePole2(-1, 0, 12200, 20000, 0), 12288);
  EXPECT_EQ(ref::UpdatePole2(-1, 0, 12200, 20000, 1), 12288);
  EXPECT_EQ(ref::UpdatePole2(5, 5, -100, 3000, -1), -134);
  EXPECT_EQ(ref::UpdatePole2(5, -5, 0, -9000, 1), 128);
}

// For 1..32767 the logarithm is 128 * floor(log2 x) plus the seven bits after
// the leading one: worked out here bit by bit.
TEST(Adpcm2IndependentReference, LogarithmIsExponentAndSevenFractionBits) {
  for (int64_t x = 1; x <= 32767; ++x) {
    int e = 0;
    while ((x >> (e + 1)) != 0) ++e;
    int64_t f = 0;
    for (int bit = 1; bit <= 7; ++bit) f = 2 * f + (e - bit >= 0 ? (x >> (e - bit)) & 1 : 0);
    ASSERT_EQ(ref::Log2(x), 128 * e + f) << x;
  }
}

std::vector<int> RefCodes(ref::Record& r, const std::vector<int16_t>& pcm,
                          std::vector<int>* reconstruction = nullptr) {
  std::vector<int> codes;
  for (int16_t s : pcm) {
    const ref::Result res = ref::EncodeSample(r, s);
    codes.push_back(res.code);
    if (reconstruction != nullptr) reconstruction->push_back(res.sr);
  }
  return codes;
}

std::vector<int> RefDecodeFromReset(const std::vector<int>& codes) {
  ref::Record r = ref::ResetRecord();
  std::vector<int> out;
  for (int c : codes) out.push_back(ref::DecodeSample(r, c));
  return out;
}

TEST(Adpcm2IndependentReference, CoderOnHandWorkedSequences) {
  // One sample of 0 from the reset.
  ref::Record r = ref::ResetRecord();
  EXPECT_EQ(ref::EncodeSample(r, 0).code, 0);
  ref::Record expected = ref::ResetRecord();
  expected.sr1 = 3, expected.a1 = 192, expected.a2 = 128;
  expected.b1 = expected.b2 = expected.b3 = expected.b4 = expected.b5 = expected.b6 = 128;
  expected.dq1 = 3, expected.ap = 32, expected.p1 = 3;
  EXPECT_TRUE(ref::SameFields(r, expected)) << ref::FieldDiff(r, expected);

  // Silence: codes, reconstruction and the 80-sample frame's bytes.
  r = ref::ResetRecord();
  std::vector<int> sr;
  EXPECT_EQ(RefCodes(r, std::vector<int16_t>(16, 0), &sr),
            (std::vector<int>{0, 3, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0}));
  EXPECT_EQ(sr, (std::vector<int>{3, -2, 3, 3, -2, 3, 2, 2, 3, 3, 3, 3, 3, -2, 3, 3}));
  r = ref::ResetRecord();
  const std::vector<int> silence = RefCodes(r, std::vector<int16_t>(80, 0));
  const std::vector<uint8_t> codes(silence.begin(), silence.end());
  uint8_t frame[24];
  ref::PackFrame(codes.data(), 80, frame);
  const uint8_t kSilenceFrame[24] = {0x00, 0x01, 0x0A, 0x00, 0xC0, 0x30, 0x30, 0x00,
                                     0x03, 0x03, 0x0C, 0x0C, 0x30, 0x03, 0x30, 0x0C,
                                     0xC0, 0x30, 0x3C, 0xC0, 0xF0, 0x00, 0xCC, 0x03};
  EXPECT_EQ(std::memcmp(frame, kSilenceFrame, 24), 0);
  const uint8_t kPackOrder[8] = {3, 0, 1, 2, 2, 1, 0, 3};  // payload bytes 93 C6
  ref::PackFrame(kPackOrder, 8, frame);
  EXPECT_EQ(frame[4], 0x93);
  EXPECT_EQ(frame[5], 0xC6);

  // The decoder.
  EXPECT_EQ(RefDecodeFromReset({0}), std::vector<int>{3});
  EXPECT_EQ(RefDecodeFromReset({1}), std::vector<int>{15});
  EXPECT_EQ(RefDecodeFromReset({2}), std::vector<int>{-15});
  EXPECT_EQ(RefDecodeFromReset({3}), std::vector<int>{-3});
  EXPECT_EQ(RefDecodeFromReset(std::vector<int>(8, 1)),
            (std::vector<int>{15, 17, 21, 24, 28, 34, 40, 53}));
  EXPECT_EQ(RefDecodeFromReset({1, 2, 1, 2, 1, 2, 1, 2}),
            (std::vector<int>{15, -15, 18, -20, 24, -30, 35, -48}));
  EXPECT_EQ(RefDecodeFromReset({0, 3, 0, 3, 0, 3, 0, 3}),
            (std::vector<int>{3, -2, 3, -3, 3, -4, 3, -4}));

  // Full-scale first samples.
  r = ref::ResetRecord();
  const ref::Result low = ref::EncodeSample(r, -32768);
  EXPECT_EQ(low.code, 3);
  EXPECT_EQ(low.sr, -3);
  r = ref::ResetRecord();
  const ref::Result high = ref::EncodeSample(r, 32767);
  EXPECT_EQ(high.code, 1);
  EXPECT_EQ(high.sr, 15);

  // An estimate of 20000 against -20000: the difference wraps to 25536.
  r = ref::ResetRecord();
  r.a1 = 16384, r.sr1 = 20000, r.sr2 = 0;
  EXPECT_EQ(ref::EncodeSample(r, -20000).code, 1);

  // From yl = 34879, yu = 600, ap = 100, one sample of 10000: y = 566, code 1,
  // dql = 506, dq = 15, yu = 987, yl = 35322, dms = dml = 112, ap = 126.
  r = ref::ResetRecord();
  r.yl = 34879, r.yu = 600, r.ap = 100;
  const ref::Result step = ref::EncodeSample(r, 10000);
  EXPECT_EQ(step.code, 1);
  EXPECT_EQ(step.sr, 15);
  EXPECT_EQ(r.yu, 987);
  EXPECT_EQ(r.yl, 35322);
  EXPECT_EQ(r.dms, 112);
  EXPECT_EQ(r.dml, 112);
  EXPECT_EQ(r.ap, 126);
}

TEST(Adpcm2IndependentReference, ConstantInputReachesTheToneTransition) {
  ref::Record r = ref::ResetRecord();
  std::vector<int> tones;
  for (int i = 0; i < 2000; ++i) {
    const ref::Record before = r;
    ref::Events ev;
    ref::EncodeSample(r, 20000, &ev);
    EXPECT_EQ(ev.transition, before.td == 1) << i;
    if (ev.transition) {
      EXPECT_EQ(r.a1, 0);
      EXPECT_EQ(r.a2, 0);
      EXPECT_EQ(r.b1 | r.b2 | r.b3 | r.b4 | r.b5 | r.b6, 0);
      EXPECT_EQ(r.ap, 256);
      EXPECT_EQ(r.sr2, before.sr1);
    }
    if (r.td == 1) tones.push_back(i);
  }
  ASSERT_GE(tones.size(), 2u);
  EXPECT_EQ(tones[0], 220);  // the 221st sample
}

// ===========================================================================
// The library against the reference.

// A library state block whose spare bytes hold a sentinel of its own.
struct LibraryBlock {
  alignas(4) unsigned char bytes[ZELK_VOICE_STATE_SIZE];
  unsigned char sentinel;
  LibraryBlock(const ref::Record& start, unsigned char s) : sentinel(s) {
    ref::ToBlock(start, bytes);
    bytes[46] = bytes[47] = s;
  }
  ref::Record Fields() const { return ref::FromBlock(bytes); }
};

::testing::AssertionResult SameRecord(const char* who, const LibraryBlock& lib,
                                      const ref::Record& expected) {
  if (lib.bytes[46] != lib.sentinel || lib.bytes[47] != lib.sentinel) {
    return ::testing::AssertionFailure() << who << " wrote its record's spare bytes";
  }
  const ref::Record got = lib.Fields();
  if (ref::SameFields(got, expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << who << " record: " << ref::FieldDiff(got, expected);
}

template <typename T>
::testing::AssertionResult SameSequence(const char* what, const T* got, const T* expected,
                                        size_t n) {
  for (size_t k = 0; k < n; ++k) {
    if (got[k] != expected[k]) {
      return ::testing::AssertionFailure()
             << what << " differ first at offset " << k << ": " << int{got[k]} << " (expected "
             << int{expected[k]} << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

struct RefBlock {
  std::vector<uint8_t> codes;
  std::vector<int16_t> sr;
};

RefBlock RefEncode(ref::Record& r, const int16_t* pcm, size_t n) {
  RefBlock out{std::vector<uint8_t>(n), std::vector<int16_t>(n)};
  for (size_t k = 0; k < n; ++k) {
    const ref::Result res = ref::EncodeSample(r, pcm[k]);
    out.codes[k] = static_cast<uint8_t>(res.code);
    out.sr[k] = res.sr;
  }
  return out;
}

std::vector<int16_t> RefDecode(ref::Record& r, const uint8_t* codes, size_t n) {
  std::vector<int16_t> out(n);
  for (size_t k = 0; k < n; ++k) out[k] = ref::DecodeSample(r, codes[k]);
  return out;
}

// The codes of a frame's bytes, as the wire carries them.
std::vector<uint8_t> CodesOfFrame(const uint8_t* bytes, size_t n) {
  std::vector<uint8_t> codes(n);
  for (size_t k = 0; k < n; ++k) {
    const size_t i = k / 8;
    const unsigned word = bytes[4 + 2 * i] | (unsigned{bytes[5 + 2 * i]} << 8);
    codes[k] = static_cast<uint8_t>((word >> (14 - 2 * (k % 8))) & 3);
  }
  return codes;
}

// Through the exported API: frames of 80..480 samples chosen by the seed.
// After every frame its bytes equal the reference's codes packed by hand,
// the decoder's samples equal the reference's reconstruction and both records
// equal the reference's. Returns the number of samples checked.
size_t CheckThroughApi(const std::vector<int16_t>& pcm, const ref::Record& start, uint32_t seed) {
  LibraryBlock enc(start, 0x11), dec(start, 0x22);
  ref::Record r = start;
  std::mt19937 rng(seed);
  size_t pos = 0;
  for (int frameIndex = 0; pos + 80 <= pcm.size(); ++frameIndex) {
    const size_t n = std::min<size_t>(80 * (1 + rng() % 6), (pcm.size() - pos) / 80 * 80);
    const RefBlock expected = RefEncode(r, pcm.data() + pos, n);
    uint8_t wanted[4 + 2 * 60];
    ref::PackFrame(expected.codes.data(), static_cast<int>(n), wanted);
    const size_t frameBytes = 4 + n / 4;

    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    std::fill(std::begin(frame), std::end(frame), uint16_t{0xEEEE});
    EXPECT_EQ(ZELK_VOICE_EncodeFrame(enc.bytes, pcm.data() + pos, frame, static_cast<int32_t>(n),
                                     ADPCM_2BIT),
              VOICE_OK);
    uint8_t got[sizeof frame];
    std::memcpy(got, frame, sizeof frame);
    if (std::memcmp(got, wanted, frameBytes) != 0) {
      const std::vector<uint8_t> codes = CodesOfFrame(got, n);
      EXPECT_TRUE(SameSequence("codes", codes.data(), expected.codes.data(), n))
          << "frame " << frameIndex << " at sample " << pos;
      ADD_FAILURE() << "frame " << frameIndex << " at sample " << pos
                    << ": bytes differ from the reference's frame";
      return pos;
    }
    if (frame[frameBytes / 2] != 0xEEEE) {
      ADD_FAILURE() << "frame " << frameIndex << ": written past its end";
      return pos;
    }
    if (auto same = SameRecord("encoder", enc, r); !same) {
      ADD_FAILURE() << "frame " << frameIndex << " ending at sample " << pos + n << ": "
                    << same.message();
      return pos;
    }

    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    EXPECT_EQ(ZELK_VOICE_DecodeFrame(dec.bytes, frame, out, ADPCM_2BIT, &count), VOICE_OK);
    EXPECT_EQ(static_cast<size_t>(count), n);
    if (auto same = SameSequence("decoded samples", out, expected.sr.data(), n); !same) {
      ADD_FAILURE() << "frame " << frameIndex << " at sample " << pos << ": " << same.message();
      return pos;
    }
    if (auto same = SameRecord("decoder", dec, r); !same) {
      ADD_FAILURE() << "frame " << frameIndex << " ending at sample " << pos + n << ": "
                    << same.message();
      return pos;
    }
    pos += n;
  }
  return pos;
}

// Through the block functions, the fast and the plain form side by side, in
// blocks of 1..600 samples chosen by the seed. The decoders take the
// encoder's codes, or on every third block arbitrary bytes (only their low two
// bits count), against a reference decoder given the same codes. Returns the
// number of samples checked.
size_t CheckThroughBlocks(const std::vector<int16_t>& pcm, const ref::Record& start,
                          uint32_t seed) {
  LibraryBlock fast(start, 0x33), plain(start, 0x44), fastDec(start, 0x55), plainDec(start, 0x66);
  ref::Record enc = start, dec = start;
  std::mt19937 rng(seed);
  size_t pos = 0;
  for (int blockIndex = 0; pos < pcm.size(); ++blockIndex) {
    const size_t n =
        std::min<size_t>(rng() % 4 == 0 ? 1 + rng() % 8 : 1 + rng() % 600, pcm.size() - pos);
    const auto count = static_cast<int32_t>(n);
    const RefBlock expected = RefEncode(enc, pcm.data() + pos, n);
    std::vector<uint8_t> fastCodes(n + 1, 0xEE), plainCodes(n + 1, 0xEE);
    Adpcm2EncodeBlock(pcm.data() + pos, fastCodes.data(), count, fast.bytes);
    Adpcm2EncodeBlockReference(pcm.data() + pos, plainCodes.data(), count, plain.bytes);
    const auto where = [&] {
      return ::testing::Message() << "block " << blockIndex << " of " << n << " at sample " << pos;
    };
    if (auto same = SameSequence("fast codes", fastCodes.data(), expected.codes.data(), n); !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    if (auto same = SameSequence("plain codes", plainCodes.data(), expected.codes.data(), n);
        !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    if (fastCodes[n] != 0xEE || plainCodes[n] != 0xEE) {
      ADD_FAILURE() << where() << ": code written past the block";
      return pos;
    }
    if (auto same = SameRecord("fast encoder", fast, enc); !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    if (auto same = SameRecord("plain encoder", plain, enc); !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }

    std::vector<uint8_t> in = expected.codes;
    if (blockIndex % 3 == 2) {
      for (uint8_t& c : in) c = static_cast<uint8_t>(rng());
    }
    const std::vector<int16_t> wanted = RefDecode(dec, in.data(), n);
    std::vector<int16_t> fastOut(n + 1, 0x7EEE), plainOut(n + 1, 0x7EEE);
    Adpcm2DecodeBlock(in.data(), fastOut.data(), count, fastDec.bytes);
    Adpcm2DecodeBlockReference(in.data(), plainOut.data(), count, plainDec.bytes);
    if (auto same = SameSequence("fast decoded samples", fastOut.data(), wanted.data(), n); !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    if (auto same = SameSequence("plain decoded samples", plainOut.data(), wanted.data(), n);
        !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    if (fastOut[n] != 0x7EEE || plainOut[n] != 0x7EEE) {
      ADD_FAILURE() << where() << ": sample written past the block";
      return pos;
    }
    if (auto same = SameRecord("fast decoder", fastDec, dec); !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    if (auto same = SameRecord("plain decoder", plainDec, dec); !same) {
      ADD_FAILURE() << where() << ": " << same.message();
      return pos;
    }
    pos += n;
  }
  return pos;
}

// Both paths; adds the stream's length to samples. False after a failure.
bool CheckStream(const std::vector<int16_t>& pcm, const ref::Record& start, uint32_t seed,
                 size_t& samples) {
  CheckThroughApi(pcm, start, seed);
  if (::testing::Test::HasFailure()) return false;
  samples += CheckThroughBlocks(pcm, start, seed + 1);
  return !::testing::Test::HasFailure();
}

// ---------------------------------------------------------------------------
// Real speech.

// Several speakers, men and women, from Debian's codec2-examples.
constexpr const char* VOICES[] = {"hts1a", "hts2a",      "forig",   "morig",  "kristoff",
                                  "mmt1",  "ve9qrp_10s", "big_dog", "cq_ref", "vk5qi"};

std::string SpeechDir() {
  const char* dir = std::getenv("ZELK_SPEECH_DIR");
  return dir != nullptr ? dir : "/usr/share/codec2/raw";
}

// The recording eight times louder, saturated: clipped speech.
std::vector<int16_t> Louder(const std::vector<int16_t>& pcm) {
  std::vector<int16_t> out(pcm.size());
  for (size_t k = 0; k < pcm.size(); ++k) {
    out[k] = static_cast<int16_t>(std::clamp(8 * int{pcm[k]}, -32768, 32767));
  }
  return out;
}

std::vector<std::vector<int16_t>> LoadVoices() {
  std::vector<std::vector<int16_t>> voices;
  for (const char* name : VOICES) {
    std::vector<int16_t> pcm = zelk::testing::ReadRawRecording(SpeechDir() + "/" + name + ".raw");
    if (pcm.empty()) continue;
    pcm.resize(Scaled(pcm.size(), 480));
    voices.push_back(std::move(pcm));
  }
  return voices;
}

TEST(Adpcm2Independent, RealSpeechThroughTheApiAndTheBlockFunctions) {
  const std::vector<std::vector<int16_t>> voices = LoadVoices();
  ASSERT_EQ(voices.size(), std::size(VOICES))
      << "recordings missing in " << SpeechDir()
      << ": install codec2-examples (scripts/install-deps.sh) or set ZELK_SPEECH_DIR";
  const ref::Record reset = ref::ResetRecord();
  size_t samples = 0;
  for (size_t v = 0; v < voices.size(); ++v) {
    SCOPED_TRACE(VOICES[v]);
    const auto seed = static_cast<uint32_t>(100 + v);
    if (!CheckStream(voices[v], reset, seed, samples)) return;
    SCOPED_TRACE("eight times louder, clipped");
    if (!CheckStream(Louder(voices[v]), reset, seed + 50, samples)) return;
  }
  std::printf(
      "two-bit coder: %zu samples of speech, each through the API and the block functions\n",
      samples);
}

// ---------------------------------------------------------------------------
// Seeded signals from the reset.

// A square wave of the given amplitude and half-period; a negative amplitude
// starts low.
std::vector<int16_t> Square(size_t n, int amplitude, size_t half) {
  std::vector<int16_t> out(n);
  for (size_t k = 0; k < n; ++k) {
    const int level = (k / half) % 2 ? -amplitude - (amplitude == 32767) : amplitude;
    out[k] = static_cast<int16_t>(level);
  }
  return out;
}

TEST(Adpcm2Independent, SeededSignalsFromTheReset) {
  const ref::Record reset = ref::ResetRecord();
  size_t samples = 0;
  for (testing::Signal kind : testing::ALL_SIGNALS) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(::testing::Message() << testing::SignalName(kind) << " seed " << seed);
      const std::vector<int16_t> pcm = testing::MakeSignal(kind, Scaled(16000, 480), seed + 300);
      if (!CheckStream(pcm, reset, seed, samples)) return;
    }
  }
  // Squares from small to full scale, from one sample per half-period up.
  for (int amplitude : {100, 1000, 8000, 20000, 32767}) {
    for (size_t half : {1, 2, 3, 5, 8, 13, 40, 100}) {
      SCOPED_TRACE(::testing::Message() << "square " << amplitude << " half-period " << half);
      const std::vector<int16_t> pcm = Square(Scaled(4000, 480), amplitude, half);
      if (!CheckStream(pcm, reset, static_cast<uint32_t>(amplitude + half), samples)) return;
    }
  }
  // Constants, the extremes among them: the tone transition again and again.
  for (int level : {-32768, -20000, -1000, 1, 20000, 32767}) {
    SCOPED_TRACE(::testing::Message() << "constant " << level);
    const std::vector<int16_t> pcm(Scaled(4000, 480), static_cast<int16_t>(level));
    if (!CheckStream(pcm, reset, static_cast<uint32_t>(level + 40000), samples)) return;
  }
  std::printf(
      "two-bit coder: %zu samples of seeded signals, each through the API and the block "
      "functions\n",
      samples);
}

// ---------------------------------------------------------------------------
// Records that were never reset.

// Arbitrary fields, half of them drawn from the extremes where the wraps and
// limits bite.
ref::Record RandomRecord(std::mt19937& rng) {
  static constexpr int16_t kEdges[] = {-32768, -32767, -12289, -11777, -8193, -1,   0,
                                       1,      2,      255,    256,    1535,  8193, 32767};
  int16_t f[23];
  for (int16_t& v : f)
    v = rng() % 2 ? kEdges[rng() % std::size(kEdges)] : static_cast<int16_t>(rng());
  static constexpr int32_t kYlEdges[] = {INT32_MIN, INT32_MIN + 1,  -1,       0, 63, 64, 34816,
                                         327680,    INT32_MAX - 63, INT32_MAX};
  ref::Record r;
  std::memcpy(&r, f, sizeof f);
  r.spare[0] = r.spare[1] = 0;
  r.yl = rng() % 2 ? kYlEdges[rng() % std::size(kYlEdges)] : static_cast<int32_t>(rng());
  return r;
}

// A record within the ranges that coding from the reset keeps (scale
// factors, averages, speed control, tone flag, first pole), the rest
// arbitrary: the fast step takes its shortcuts for every such record.
ref::Record RandomInRangeRecord(std::mt19937& rng) {
  ref::Record r = RandomRecord(rng);
  auto pick = [&](int lo, int hi) {
    return static_cast<int16_t>(lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1)));
  };
  r.a1 = pick(-27648, 27648);
  r.dms = pick(0, 3584);
  r.dml = pick(0, 14336);
  r.ap = pick(0, 512);
  r.yu = pick(544, 5120);
  r.td = pick(0, 1);
  r.yl = 34816 + static_cast<int32_t>(rng() % (327680 - 34816 + 1));
  return r;
}

TEST(Adpcm2Independent, NeverResetRecordsFrameByFrame) {
  const std::vector<std::vector<int16_t>> voices = LoadVoices();
  ASSERT_FALSE(voices.empty()) << "recordings missing in " << SpeechDir()
                               << ": install codec2-examples (scripts/install-deps.sh)";
  std::mt19937 rng(2025);
  size_t samples = 0;
  const size_t trials = Scaled(1200, 24);
  for (size_t trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    const ref::Record start = trial % 3 == 2 ? RandomInRangeRecord(rng) : RandomRecord(rng);
    std::vector<int16_t> pcm;
    if (trial % 4 == 3) {  // a stretch of speech
      const std::vector<int16_t>& voice = voices[trial % voices.size()];
      const size_t from = rng() % (voice.size() - 480 + 1);
      pcm.assign(voice.begin() + static_cast<long>(from),
                 voice.begin() + static_cast<long>(std::min(voice.size(), from + 960)));
    } else {
      const auto kind = testing::ALL_SIGNALS[rng() % std::size(testing::ALL_SIGNALS)];
      pcm = testing::MakeSignal(kind, 960, static_cast<uint32_t>(trial));
    }
    if (!CheckStream(pcm, start, static_cast<uint32_t>(trial), samples)) return;
  }
  std::printf(
      "two-bit coder: %zu samples from %zu never-reset records, each through the API and the block "
      "functions\n",
      samples, trials);
}

}  // namespace
}  // namespace zelk
