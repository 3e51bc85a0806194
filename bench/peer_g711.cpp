// G.711 A-law and mu-law against spandsp's g711_encode/g711_decode.
#include <spandsp.h>

#include "peer_compare.h"

namespace zelk::bench {
namespace {

Figures MeasureSpandsp(const std::vector<int16_t>& speech, int mode) {
  const size_t frames = speech.size() / kFrameSamples;
  g711_state_t* peer = g711_init(nullptr, mode);
  uint8_t codes[kFrameSamples];
  int16_t pcm[kFrameSamples];
  size_t f = 0;
  const double encode = MeasureMsps(
      [&] {
        g711_encode(peer, codes, speech.data() + (f++ % frames) * kFrameSamples, kFrameSamples);
      },
      kFrameSamples);
  const double decode =
      MeasureMsps([&] { g711_decode(peer, pcm, codes, kFrameSamples); }, kFrameSamples);
  g711_free(peer);
  return {encode, decode};
}

}  // namespace

void RunG711Comparison(const std::vector<int16_t>& speech) {
  constexpr int kOurAlaw = 1, kOurUlaw = 2;
  PrintComparison("G.711 A-law", "spandsp g711", MeasureOurs(kOurAlaw, speech),
                  MeasureSpandsp(speech, G711_ALAW));
  PrintComparison("G.711 mu-law", "spandsp g711", MeasureOurs(kOurUlaw, speech),
                  MeasureSpandsp(speech, G711_ULAW));
}

}  // namespace zelk::bench
