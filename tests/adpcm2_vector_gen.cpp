// Writes the two-bit ADPCM reference vectors (see adpcm2_vectors.h):
//
//   adpcm2_vector_gen tests/data/adpcm2_vectors.bin
//
// Each case is coded from the reset through the exported API; the inputs
// reach the tone transition (twice), wrapped differences and reconstructions,
// and -32768. Run it only when the codec's output is meant to change.
#include <cstdio>
#include <cstdlib>

#include "adpcm2_vectors.h"
#include "test_signals.h"
#include "zelk_voice_engine.h"

using namespace zelk::testing;

namespace {

VectorCase Code(const char* name, const std::vector<int16_t>& pcm,
                const std::vector<int>& frameSizes) {
  VectorCase c{name, {}};
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, ADPCM_2BIT);
  ZELK_VOICE_DecReset(&dec, ADPCM_2BIT);
  size_t pos = 0;
  for (size_t k = 0; pos < pcm.size(); ++k) {
    const int n = frameSizes[k % frameSizes.size()];
    if (pos + static_cast<size_t>(n) > pcm.size()) break;
    VectorFrame f;
    f.pcm.assign(pcm.begin() + static_cast<long>(pos), pcm.begin() + static_cast<long>(pos) + n);
    f.frame.resize(static_cast<size_t>(2 + n / 8));
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    if (ZELK_VOICE_EncodeFrame(&enc, f.pcm.data(), frame, n, ADPCM_2BIT) != VOICE_OK ||
        ZELK_VOICE_DecodeFrame(&dec, frame, out, ADPCM_2BIT, &count) != VOICE_OK || count != n) {
      std::fprintf(stderr, "coding failed in %s\n", name);
      std::exit(1);
    }
    f.frame.assign(frame, frame + 2 + n / 8);
    f.decoded.assign(out, out + n);
    c.frames.push_back(std::move(f));
    pos += static_cast<size_t>(n);
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  std::vector<int16_t> extremes(160);
  for (size_t i = 0; i < extremes.size(); ++i) {
    extremes[i] = (i % 3 == 2) ? int16_t{32767} : int16_t{-32768};
  }
  const std::vector<VectorCase> cases = {
      Code("constant 20000", std::vector<int16_t>(480, 20000), {160, 80, 240}),
      Code("-32768 first, extremes", extremes, {80}),
      Code("full-scale square", MakeSignal(Signal::kSquareFullScale, 320, 3), {320}),
      Code("clipping sine", MakeSignal(Signal::kClipping, 240, 5), {240}),
      Code("speech-like", MakeSignal(Signal::kSpeechLike, 400, 7), {400}),
      Code("noise", MakeSignal(Signal::kNoise, 160, 11), {160}),
  };
  const std::vector<uint8_t> bytes = SerializeVectors(cases);
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%zu cases, %zu bytes\n", cases.size(), bytes.size());
  return 0;
}
