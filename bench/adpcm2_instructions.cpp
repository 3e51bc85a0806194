// Drives the two-bit ADPCM through the exported frame API for an instruction
// count under callgrind, which counts repeatably where timings do not:
//
//   valgrind --tool=callgrind --toggle-collect=ZELK_VOICE_EncodeFrame \
//       zelk_adpcm2_instructions encode
//
// and the same with decode / ZELK_VOICE_DecodeFrame; instructions per sample
// are the collected count divided by the samples printed.
#include <cstdio>
#include <cstring>
#include <vector>

#include "test_signals.h"
#include "zelk_voice_engine.h"

int main(int argc, char** argv) {
  constexpr int kFrameSamples = 160;
  constexpr int kFrames = 2000;
  const bool decode = argc > 1 && std::strcmp(argv[1], "decode") == 0;
  const auto speech =
      zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, kFrameSamples * kFrames, 7);
  std::vector<uint16_t> stream(static_cast<size_t>(kFrames) * ZELK_VOICE_MAX_FRAME_WORDS);
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, ADPCM_2BIT);
  ZELK_VOICE_DecReset(&dec, ADPCM_2BIT);
  if (!decode) {
    for (int f = 0; f < kFrames; ++f) {
      ZELK_VOICE_EncodeFrame(&enc, speech.data() + f * kFrameSamples,
                             stream.data() + f * ZELK_VOICE_MAX_FRAME_WORDS, kFrameSamples,
                             ADPCM_2BIT);
    }
  } else {
    for (int f = 0; f < kFrames; ++f) {  // frames of silence-free coded speech
      ZELK_VOICE_EncodeFrame(&enc, speech.data() + f * kFrameSamples,
                             stream.data() + f * ZELK_VOICE_MAX_FRAME_WORDS, kFrameSamples,
                             ADPCM_2BIT);
    }
    int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    for (int f = 0; f < kFrames; ++f) {
      ZELK_VOICE_DecodeFrame(&dec, stream.data() + f * ZELK_VOICE_MAX_FRAME_WORDS, pcm, ADPCM_2BIT,
                             &count);
    }
  }
  std::printf("%s: %d samples\n", decode ? "decode" : "encode", kFrameSamples * kFrames);
  return 0;
}
