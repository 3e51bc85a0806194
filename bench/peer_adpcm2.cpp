// The two-bit ADPCM against spandsp's G.726 at 16 kbit/s, the nearest codec a
// peer runs: the same tables and the same bit rate, one code per byte.
#include <spandsp.h>

#include "peer_compare.h"

namespace zelk::bench {
namespace {

Figures MeasureSpandspG726(const std::vector<int16_t>& speech) {
  const size_t frames = speech.size() / kFrameSamples;
  g726_state_t* enc = g726_init(nullptr, 16000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  g726_state_t* dec = g726_init(nullptr, 16000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  uint8_t codes[kFrameSamples];
  int16_t pcm[kFrameSamples];
  size_t f = 0;
  const double encode = MeasureMsps(
      [&] {
        g726_encode(enc, codes, speech.data() + (f++ % frames) * kFrameSamples, kFrameSamples);
      },
      kFrameSamples);
  const double decode =
      MeasureMsps([&] { g726_decode(dec, pcm, codes, kFrameSamples); }, kFrameSamples);
  g726_free(enc);
  g726_free(dec);
  return {encode, decode};
}

}  // namespace

void RunAdpcm2Comparison(const std::vector<int16_t>& speech) {
  constexpr int kOurAdpcm2 = 4;
  PrintComparison("ADPCM 2-bit", "spandsp g726-16", MeasureOurs(kOurAdpcm2, speech),
                  MeasureSpandspG726(speech));
}

}  // namespace zelk::bench
