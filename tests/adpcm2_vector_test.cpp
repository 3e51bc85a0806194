// Replays the committed two-bit ADPCM reference vectors: any change to the
// codec's arithmetic changes a frame or a decoded sample here.
#include <gtest/gtest.h>

#include <string>

#include "adpcm2_vectors.h"
#include "zelk_voice_engine.h"

namespace zelk::testing {
namespace {

TEST(Adpcm2Vectors, EncoderAndDecoderReproduceTheStoredStreams) {
  const auto cases =
      ParseVectors(ReadFile(std::string(ZELK_TEST_DATA_DIR) + "/" + ADPCM2_VECTOR_FILE));
  ASSERT_EQ(cases.size(), 6u) << "missing or malformed vector file";
  for (const VectorCase& c : cases) {
    SCOPED_TRACE(c.name);
    VoiceCodecState enc, dec;
    ASSERT_EQ(ZELK_VOICE_EncReset(&enc, ADPCM_2BIT), VOICE_OK);
    ASSERT_EQ(ZELK_VOICE_DecReset(&dec, ADPCM_2BIT), VOICE_OK);
    for (size_t k = 0; k < c.frames.size(); ++k) {
      const VectorFrame& f = c.frames[k];
      const auto n = static_cast<int32_t>(f.pcm.size());
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, f.pcm.data(), frame, n, ADPCM_2BIT), VOICE_OK);
      ASSERT_EQ(std::vector<uint16_t>(frame, frame + f.frame.size()), f.frame) << "frame " << k;
      int16_t out[ZELK_VOICE_MAX_SAMPLES];
      int16_t count = 0;
      ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, f.frame.data(), out, ADPCM_2BIT, &count), VOICE_OK);
      ASSERT_EQ(count, n);
      ASSERT_EQ(std::vector<int16_t>(out, out + n), f.decoded) << "frame " << k;
    }
  }
}

}  // namespace
}  // namespace zelk::testing
