// Encoder and decoder of the two-bit ADPCM codec in lockstep over long seeded
// streams through the exported API: after every frame the decoder's output
// equals the encoder's reconstruction and the two records are equal byte for
// byte, the spare bytes aside, which nothing may touch. The same holds from
// records that were never reset (arbitrary bytes), which also runs the
// arithmetic through every wrap under the sanitizers. The fast step is held
// against the independent reference of adpcm2_independent_reference.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "adpcm2_independent_reference.h"
#include "codec/adpcm2/adpcm2.h"
#include "frame_bytes.h"
#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

using testing::MakeSignal;
using testing::Signal;

// A state block with distinct sentinels in the spare bytes of each party, so
// that a coder that read them would fall out of step.
struct Party {
  alignas(4) unsigned char bytes[ZELK_VOICE_STATE_SIZE];
  unsigned char spare[2];
  explicit Party(unsigned char sentinel) {
    std::memset(bytes, sentinel, sizeof bytes);
    spare[0] = bytes[46];
    spare[1] = bytes[47];
  }
  bool SpareUntouched() const { return bytes[46] == spare[0] && bytes[47] == spare[1]; }
};

bool FieldsEqual(const Party& x, const Party& y) {
  return std::memcmp(x.bytes, y.bytes, 46) == 0 && std::memcmp(x.bytes + 48, y.bytes + 48, 4) == 0;
}

int CodeInFrame(const uint16_t* frame, int k) {
  return (testing::LoadWireWord(&frame[2 + k / 8]) >> (14 - 2 * (k % 8))) & 3;
}

// Runs `pcm` through an encoder, a per-sample tracking encoder (which exposes
// the reconstruction) and a decoder, all starting from `start` (the record
// bytes; spare bytes differ per party). Frame sizes vary with the seed.
void RunLockstep(const std::vector<int16_t>& pcm, const unsigned char* start, uint32_t seed) {
  Party enc(0x11), track(0x22), dec(0x33);
  for (Party* p : {&enc, &track, &dec}) {
    std::memcpy(p->bytes, start, 46);
    std::memcpy(p->bytes + 48, start + 48, 4);
  }
  std::mt19937 rng(seed);
  size_t pos = 0;
  int frameIndex = 0;
  while (true) {
    const int n = 80 * static_cast<int>(1 + rng() % 6);
    if (pos + static_cast<size_t>(n) > pcm.size()) break;
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    ASSERT_EQ(ZELK_VOICE_EncodeFrame(enc.bytes, pcm.data() + pos, frame, n, ADPCM_2BIT), VOICE_OK);

    std::vector<int16_t> reconstruction(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
      uint8_t code = 0;
      Adpcm2EncodeBlock(pcm.data() + pos + k, &code, 1, track.bytes);
      ASSERT_EQ(code, CodeInFrame(frame, k)) << "frame " << frameIndex << " sample " << k;
      std::memcpy(&reconstruction[static_cast<size_t>(k)], track.bytes, 2);  // sr1
    }

    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    ASSERT_EQ(ZELK_VOICE_DecodeFrame(dec.bytes, frame, out, ADPCM_2BIT, &count), VOICE_OK);
    ASSERT_EQ(count, n);
    for (int k = 0; k < n; ++k) {
      ASSERT_EQ(out[k], reconstruction[static_cast<size_t>(k)])
          << "frame " << frameIndex << " sample " << k;
    }
    ASSERT_TRUE(FieldsEqual(enc, dec)) << "frame " << frameIndex;
    ASSERT_TRUE(FieldsEqual(enc, track)) << "frame " << frameIndex;
    ASSERT_TRUE(enc.SpareUntouched() && track.SpareUntouched() && dec.SpareUntouched());
    pos += static_cast<size_t>(n);
    ++frameIndex;
  }
}

TEST(Adpcm2Lockstep, SeededStreamsFromReset) {
  unsigned char reset[ZELK_VOICE_STATE_SIZE] = {};
  ASSERT_EQ(ZELK_VOICE_EncReset(reset, ADPCM_2BIT), VOICE_OK);
  unsigned char decReset[ZELK_VOICE_STATE_SIZE] = {};
  ASSERT_EQ(ZELK_VOICE_DecReset(decReset, ADPCM_2BIT), VOICE_OK);
  ASSERT_EQ(std::memcmp(reset, decReset, sizeof reset), 0);

  for (Signal kind : testing::ALL_SIGNALS) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE(::testing::Message() << testing::SignalName(kind) << " seed " << seed);
      RunLockstep(MakeSignal(kind, 8000 * 6, seed), reset, seed * 7919);
      if (HasFatalFailure()) return;
    }
  }
}

// A record of arbitrary bytes, half of the fields drawn from the extremes
// where wraps and limits bite.
void RandomRecord(std::mt19937& rng, unsigned char* bytes) {
  static constexpr int16_t kEdges[] = {-32768, -32767, -12289, -8193, -1,    0,
                                       1,      255,    256,    8193,  12289, 32767};
  for (int f = 0; f < 23; ++f) {
    int16_t v = static_cast<int16_t>(rng());
    if (rng() % 2) v = kEdges[rng() % std::size(kEdges)];
    std::memcpy(bytes + 2 * f, &v, 2);
  }
  static constexpr int32_t kYlEdges[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 63, 64,
                                         INT32_MAX, INT32_MAX - 63};
  int32_t yl = static_cast<int32_t>(rng());
  if (rng() % 2) yl = kYlEdges[rng() % std::size(kYlEdges)];
  std::memcpy(bytes + 48, &yl, 4);
}

TEST(Adpcm2Lockstep, NeverResetRecordsStayInStepWithoutUndefinedBehaviour) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 600; ++trial) {
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    unsigned char start[ZELK_VOICE_STATE_SIZE];
    RandomRecord(rng, start);
    const auto kind = testing::ALL_SIGNALS[trial % std::size(testing::ALL_SIGNALS)];
    RunLockstep(MakeSignal(kind, 960, static_cast<uint32_t>(trial)), start,
                static_cast<uint32_t>(trial));
    if (HasFatalFailure()) return;
  }
}

// A record within the ranges that coding keeps (scale factors, averages,
// speed control, tone flag, first pole), everything else arbitrary: the
// fast step's shortcuts apply to every such record, not only to those
// reached from the reset.
void RandomInRangeRecord(std::mt19937& rng, unsigned char* bytes) {
  RandomRecord(rng, bytes);
  auto put = [&](int field, int lo, int hi) {
    const auto v =
        static_cast<int16_t>(lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1)));
    std::memcpy(bytes + 2 * field, &v, 2);
  };
  put(2, -27648, 27648);  // a1
  put(16, 0, 3584);       // dms
  put(17, 0, 14336);      // dml
  put(18, 0, 512);        // ap
  put(19, 544, 5120);     // yu
  put(20, 0, 1);          // td
  const int32_t yl = 34816 + static_cast<int32_t>(rng() % (327680 - 34816 + 1));
  std::memcpy(bytes + 48, &yl, 4);
}

// The block coders against the independent reference, in chunks of varying
// size: same codes, same samples, same record.
void CompareWithReference(const std::vector<int16_t>& pcm, const unsigned char* start,
                          uint32_t seed) {
  Party fast(0x44), ref(0x55), fastDec(0x66), refDec(0x77);
  for (Party* p : {&fast, &ref, &fastDec, &refDec}) {
    std::memcpy(p->bytes, start, 46);
    std::memcpy(p->bytes + 48, start + 48, 4);
  }
  std::mt19937 rng(seed);
  std::vector<uint8_t> codes(pcm.size()), refCodes(pcm.size()), noise(pcm.size());
  std::vector<int16_t> out(pcm.size()), refOut(pcm.size());
  for (auto& c : noise) c = static_cast<uint8_t>(rng());
  size_t pos = 0;
  while (pos < pcm.size()) {
    const size_t n = std::min(pcm.size() - pos, size_t{1} + rng() % 200);
    const auto count = static_cast<int32_t>(n);
    Adpcm2EncodeBlock(pcm.data() + pos, codes.data() + pos, count, fast.bytes);
    testing::adpcm2_ref::EncodeBlock(pcm.data() + pos, refCodes.data() + pos, n, ref.bytes);
    ASSERT_EQ(std::memcmp(codes.data() + pos, refCodes.data() + pos, n), 0) << "at " << pos;
    ASSERT_TRUE(FieldsEqual(fast, ref)) << "encoder record at " << pos;
    // The decoders take the encoder's codes on even chunks and arbitrary
    // bytes (only the low two bits count) on odd ones.
    const uint8_t* in = (pos / 7) % 2 ? noise.data() + pos : codes.data() + pos;
    Adpcm2DecodeBlock(in, out.data() + pos, count, fastDec.bytes);
    testing::adpcm2_ref::DecodeBlock(in, refOut.data() + pos, n, refDec.bytes);
    ASSERT_EQ(std::memcmp(out.data() + pos, refOut.data() + pos, 2 * n), 0) << "at " << pos;
    ASSERT_TRUE(FieldsEqual(fastDec, refDec)) << "decoder record at " << pos;
    pos += n;
  }
  for (const Party* p : {&fast, &ref, &fastDec, &refDec}) ASSERT_TRUE(p->SpareUntouched());
}

TEST(Adpcm2Reference, BlockCodersMatchTheIndependentReference) {
  unsigned char reset[ZELK_VOICE_STATE_SIZE] = {};
  Adpcm2Reset(reset);
  std::mt19937 rng(77);
  for (Signal kind : testing::ALL_SIGNALS) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(::testing::Message() << testing::SignalName(kind) << " seed " << seed);
      CompareWithReference(MakeSignal(kind, 8000 * 4, seed + 100), reset, seed);
      if (HasFatalFailure()) return;
    }
  }
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    unsigned char start[ZELK_VOICE_STATE_SIZE];
    if (trial % 2) {
      RandomInRangeRecord(rng, start);
    } else {
      RandomRecord(rng, start);
    }
    const auto kind = testing::ALL_SIGNALS[trial % std::size(testing::ALL_SIGNALS)];
    CompareWithReference(MakeSignal(kind, 1200, static_cast<uint32_t>(trial) + 5000), start,
                         static_cast<uint32_t>(trial));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace zelk

namespace zelk {
namespace {

// The in-range step reads its tables by scale factor and code: at both ends
// of the scale factors' range, with the speed control at its limits (pure
// slow and pure fast factor), every code and full-scale inputs of either sign
// give what the independent reference gives, sample for sample.
TEST(Adpcm2Reference, InRangeStepAtTheEndsOfTheScaleFactorRange) {
  std::mt19937 rng(4242);
  struct Ends {
    int16_t yu;
    int32_t yl;
    int16_t ap;
  };
  static constexpr Ends kEnds[] = {{544, 34816, 0},    {5120, 327680, 0},  {544, 327680, 512},
                                   {5120, 34816, 512}, {544, 327680, 255}, {5120, 34816, 256},
                                   {544, 34816, 512},  {5120, 327680, 512}};
  for (const Ends& e : kEnds) {
    for (int trial = 0; trial < 8; ++trial) {
      SCOPED_TRACE(::testing::Message()
                   << "yu " << e.yu << " yl " << e.yl << " ap " << e.ap << " trial " << trial);
      unsigned char start[ZELK_VOICE_STATE_SIZE];
      RandomInRangeRecord(rng, start);
      std::memcpy(start + 2 * 19, &e.yu, 2);
      std::memcpy(start + 48, &e.yl, 4);
      std::memcpy(start + 2 * 18, &e.ap, 2);
      std::vector<int16_t> pcm(64);
      for (size_t k = 0; k < pcm.size(); ++k) {
        pcm[k] = static_cast<int16_t>(trial % 2 ? (k % 2 ? 32767 : -32768) : rng());
      }
      // One sample per call, so that every sample starts at the chosen ends.
      Party fast(0x12), ref(0x34);
      for (size_t k = 0; k < pcm.size(); ++k) {
        for (Party* p : {&fast, &ref}) {
          std::memcpy(p->bytes, start, 46);
          std::memcpy(p->bytes + 48, start + 48, 4);
        }
        uint8_t code = 0, refCode = 0;
        Adpcm2EncodeBlock(&pcm[k], &code, 1, fast.bytes);
        testing::adpcm2_ref::EncodeBlock(&pcm[k], &refCode, 1, ref.bytes);
        ASSERT_EQ(code, refCode) << "sample " << k;
        ASSERT_TRUE(FieldsEqual(fast, ref)) << "encoder, sample " << k;
        for (uint8_t c = 0; c < 4; ++c) {
          for (Party* p : {&fast, &ref}) {
            std::memcpy(p->bytes, start, 46);
            std::memcpy(p->bytes + 48, start + 48, 4);
          }
          int16_t out = 0, refOut = 0;
          Adpcm2DecodeBlock(&c, &out, 1, fast.bytes);
          testing::adpcm2_ref::DecodeBlock(&c, &refOut, 1, ref.bytes);
          ASSERT_EQ(out, refOut) << "code " << int{c};
          ASSERT_TRUE(FieldsEqual(fast, ref)) << "decoder, code " << int{c};
        }
      }
    }
  }
}

}  // namespace
}  // namespace zelk

namespace zelk {
namespace {

// The in-range quantiser decides by a magnitude threshold and picks dq by
// class and sign. With every predictor coefficient 0 the estimate is 0, so
// the input is the difference itself: every 16-bit input, -32768 included,
// must give the independent reference's code and record, for scale factors across
// the range, on either side of full speed (where y is yu itself).
TEST(Adpcm2Reference, InRangeQuantiserForEveryInput) {
  std::mt19937 rng(9001);
  struct Scale {
    int16_t yu;
    int16_t ap;
  };
  static constexpr Scale kScales[] = {{544, 512},  {1000, 256}, {2047, 255},
                                      {3001, 100}, {4444, 3},   {5120, 512}};
  for (const Scale& sc : kScales) {
    SCOPED_TRACE(::testing::Message() << "yu " << sc.yu << " ap " << sc.ap);
    unsigned char start[ZELK_VOICE_STATE_SIZE];
    RandomInRangeRecord(rng, start);
    const int16_t zero = 0;
    for (int field = 2; field <= 9; ++field) std::memcpy(start + 2 * field, &zero, 2);  // a, b
    std::memcpy(start + 2 * 19, &sc.yu, 2);
    std::memcpy(start + 2 * 18, &sc.ap, 2);
    const int32_t yl = 64 * sc.yu + static_cast<int32_t>(rng() % 64);
    std::memcpy(start + 48, &yl, 4);
    Party fast(0x56), ref(0x78);
    for (int32_t s = -32768; s <= 32767; ++s) {
      for (Party* p : {&fast, &ref}) {
        std::memcpy(p->bytes, start, 46);
        std::memcpy(p->bytes + 48, start + 48, 4);
      }
      const auto sample = static_cast<int16_t>(s);
      uint8_t code = 0, refCode = 0;
      Adpcm2EncodeBlock(&sample, &code, 1, fast.bytes);
      testing::adpcm2_ref::EncodeBlock(&sample, &refCode, 1, ref.bytes);
      ASSERT_EQ(code, refCode) << "input " << s;
      ASSERT_TRUE(FieldsEqual(fast, ref)) << "input " << s;
    }
    EXPECT_TRUE(fast.SpareUntouched());
  }
}

}  // namespace
}  // namespace zelk
