// IMA ADPCM against spandsp's ima_adpcm_encode/ima_adpcm_decode, plain DVI4
// nibble stream (no block headers).
//
// spandsp's encoder decides every code bit with a branch. When the same few
// seconds of signal are encoded over and over, the branch predictor learns
// them and the peer looks far faster than on speech it has not seen; our
// coder has no data-dependent branch and runs at one speed. So the figures
// are printed twice: on the shared 4 s signal and on 60 s that never repeat
// during a measurement.
#include <spandsp.h>

#include <cstdio>

#include "peer_compare.h"
#include "test_signals.h"

namespace zelk::bench {
namespace {

Figures MeasureSpandsp(const std::vector<int16_t>& speech) {
  const size_t frames = speech.size() / kFrameSamples;
  ima_adpcm_state_t* encoder = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
  ima_adpcm_state_t* decoder = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
  uint8_t codes[kFrameSamples];
  int16_t pcm[kFrameSamples];
  int bytes = 0;
  size_t f = 0;
  const double encode = MeasureMsps(
      [&] {
        bytes = ima_adpcm_encode(encoder, codes, speech.data() + (f++ % frames) * kFrameSamples,
                                 kFrameSamples);
      },
      kFrameSamples);
  const double decode =
      MeasureMsps([&] { ima_adpcm_decode(decoder, pcm, codes, bytes); }, kFrameSamples);
  ima_adpcm_free(encoder);
  ima_adpcm_free(decoder);
  return {encode, decode};
}

// 60 s of speech-like signal, 4 s from each of 15 seeds.
std::vector<int16_t> LongSpeech() {
  std::vector<int16_t> out;
  for (uint32_t seed = 100; seed < 115; ++seed) {
    const auto part = testing::MakeSignal(testing::Signal::kSpeechLike, 8000 * 4, seed);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

}  // namespace

void RunImaComparison(const std::vector<int16_t>& speech) {
  constexpr int kOurIma = 3;
  PrintComparison("IMA ADPCM", "spandsp ima_adpcm", MeasureOurs(kOurIma, speech),
                  MeasureSpandsp(speech));
  const auto longSpeech = LongSpeech();
  std::printf("IMA ADPCM on 60 s of speech that does not repeat within a measurement:\n");
  PrintComparison("IMA ADPCM", "spandsp ima_adpcm", MeasureOurs(kOurIma, longSpeech),
                  MeasureSpandsp(longSpeech));
}

}  // namespace zelk::bench
