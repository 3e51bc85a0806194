// Replays the committed two-bit ADPCM vectors through the exported API. The
// vectors come from the independent reference, not from the library: every
// code of every frame must be the stored one, and every frame's decoded
// samples and both records after it must give the stored digest.
#include <gtest/gtest.h>

#include <string>

#include "adpcm2_independent_reference.h"
#include "adpcm2_vectors.h"
#include "zelk_voice_engine.h"

namespace zelk::testing::vectors {
namespace {

std::vector<Case> LoadCases() {
  return Parse(ReadFile(std::string(ZELK_TEST_DATA_DIR) + "/" + ADPCM2_VECTOR_FILE));
}

// The start record of a case in a fresh state block.
void Start(const Case& c, VoiceCodecState& enc, VoiceCodecState& dec) {
  if (c.start == 0) {
    ASSERT_EQ(ZELK_VOICE_EncReset(&enc, ADPCM_2BIT), VOICE_OK);
    ASSERT_EQ(ZELK_VOICE_DecReset(&dec, ADPCM_2BIT), VOICE_OK);
    return;
  }
  int32_t fields[24];
  StartFields(c.start, c.seed, fields);
  WriteFields(fields, &enc);
  WriteFields(fields, &dec);
}

TEST(Adpcm2Vectors, TheApiReproducesEveryCodeAndEveryFrameDigest) {
  const std::vector<Case> cases = LoadCases();
  ASSERT_FALSE(cases.empty()) << "missing or malformed " << ADPCM2_VECTOR_FILE;
  size_t total = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<int16_t> pcm = Generate(c.generator, c.seed, c.samples);
    VoiceCodecState enc, dec;
    Start(c, enc, dec);
    size_t pos = 0;
    const std::vector<int> sizes = FrameSizes(c);
    for (size_t f = 0; f < sizes.size(); ++f) {
      const int n = sizes[f];
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, pcm.data() + pos, frame, n, ADPCM_2BIT), VOICE_OK);
      unsigned char bytes[sizeof frame];
      std::memcpy(bytes, frame, sizeof frame);
      ASSERT_EQ(bytes[0] | (bytes[1] << 8), 0x0100);
      ASSERT_EQ(bytes[2] | (bytes[3] << 8), n / 8);
      for (int k = 0; k < n; ++k) {
        const int word = bytes[4 + 2 * (k / 8)] | (bytes[5 + 2 * (k / 8)] << 8);
        ASSERT_EQ((word >> (14 - 2 * (k % 8))) & 3, c.codes[pos + static_cast<size_t>(k)])
            << "frame " << f << ", sample " << pos + static_cast<size_t>(k);
      }
      int16_t out[ZELK_VOICE_MAX_SAMPLES];
      int16_t count = 0;
      ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, frame, out, ADPCM_2BIT, &count), VOICE_OK);
      ASSERT_EQ(count, n);
      Digest digest;
      digest.Samples(out, static_cast<size_t>(n));
      digest.Record(&enc);
      digest.Record(&dec);
      ASSERT_EQ(digest.h, c.digests[f])
          << "frame " << f << " (samples " << pos << ".." << pos + static_cast<size_t>(n) - 1
          << "): decoded samples or records differ";
      pos += static_cast<size_t>(n);
    }
    total += pos;
  }
  EXPECT_GE(total, 100000u);
}

// The vectors reach the corners of the arithmetic, and the reference still
// writes exactly them (a change to the reference or to a generator shows
// here first).
TEST(Adpcm2Vectors, TheyReachTransitionsAndWrapsAndTheReferenceWritesThem) {
  const std::vector<Case> cases = LoadCases();
  ASSERT_FALSE(cases.empty()) << "missing or malformed " << ADPCM2_VECTOR_FILE;
  adpcm2_ref::Counts counts;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<int16_t> pcm = Generate(c.generator, c.seed, c.samples);
    alignas(4) unsigned char block[52] = {};
    if (c.start == 0) {
      adpcm2_ref::ToBlock(adpcm2_ref::ResetRecord(), block);
    } else {
      int32_t fields[24];
      StartFields(c.start, c.seed, fields);
      WriteFields(fields, block);
    }
    adpcm2_ref::Record r = adpcm2_ref::FromBlock(block);
    for (size_t k = 0; k < pcm.size(); ++k) {
      adpcm2_ref::Events ev;
      ASSERT_EQ(adpcm2_ref::EncodeSample(r, pcm[k], &ev).code, c.codes[k]) << "sample " << k;
      counts.Add(ev);
    }
  }
  EXPECT_GE(counts.samples, 100000);
  EXPECT_GE(counts.transitions, 50);
  EXPECT_GE(counts.differenceWraps, 1000);
  EXPECT_GE(counts.reconstructionWraps, 1000);
  EXPECT_GE(counts.estimateWraps, 1000);
  EXPECT_GE(counts.partialWraps, 10);
  EXPECT_GE(counts.zeroCoefficientWraps, 1);
  EXPECT_GE(counts.smallestMagnitudes, 1);
}

}  // namespace
}  // namespace zelk::testing::vectors
