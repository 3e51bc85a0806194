// IMA ADPCM against spandsp's ima_adpcm_encode/ima_adpcm_decode, plain DVI4
// nibble stream (no block headers).
//
#include <spandsp.h>

#include "peer_compare.h"

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

}  // namespace

void RunImaComparison(const std::vector<int16_t>& speech) {
  constexpr int kOurIma = 3;
  PrintComparison("IMA ADPCM", "spandsp ima_adpcm", MeasureOurs(kOurIma, speech),
                  MeasureSpandsp(speech));
}

}  // namespace zelk::bench
