#include "peer_compare.h"

#include <cstdio>

#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace zelk::bench {

Figures MeasureOurs(int codecType, const std::vector<int16_t>& speech) {
  const size_t frames = speech.size() / kFrameSamples;
  VoiceCodecState state;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
  int16_t count = 0;
  size_t f = 0;
  ZELK_VOICE_EncReset(&state, codecType);
  const double encode = MeasureMsps(
      [&] {
        ZELK_VOICE_EncodeFrame(&state, speech.data() + (f++ % frames) * kFrameSamples, frame,
                               kFrameSamples, codecType);
      },
      kFrameSamples);
  ZELK_VOICE_DecReset(&state, codecType);
  const double decode = MeasureMsps(
      [&] { ZELK_VOICE_DecodeFrame(&state, frame, pcm, codecType, &count); }, kFrameSamples);
  return {encode, decode};
}

void PrintComparison(const char* codec, const char* peer, Figures ours, Figures theirs) {
  std::printf("%-13s encode  zelk %8.1f  %-20s %8.1f  ratio %5.2fx\n", codec, ours.encode, peer,
              theirs.encode, ours.encode / theirs.encode);
  std::printf("%-13s decode  zelk %8.1f  %-20s %8.1f  ratio %5.2fx\n", codec, ours.decode, peer,
              theirs.decode, ours.decode / theirs.decode);
}

}  // namespace zelk::bench

namespace {

// 60 s of speech-like signal, 4 s from each of 15 voices. A coder that
// decides its bits by branches looks far faster when the same few seconds
// are coded over and over and the branch predictor learns them; a long
// signal keeps the comparison close to live speech.
std::vector<int16_t> LongSpeech() {
  std::vector<int16_t> out;
  for (uint32_t seed = 100; seed < 115; ++seed) {
    const auto part = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 8000 * 4, seed);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

}  // namespace

int main() {
  const auto speech = LongSpeech();
  std::printf("Msamples/s at %zu-sample frames on one core, 60 s of speech-like signal for both\n",
              zelk::bench::kFrameSamples);
  zelk::bench::RunG711Comparison(speech);
  zelk::bench::RunImaComparison(speech);
  zelk::bench::RunAdpcm2Comparison(speech);
  return 0;
}
