// Samples per second through ZELK_VOICE_EncodeFrame and ZELK_VOICE_DecodeFrame.
#include <benchmark/benchmark.h>

#include <vector>

#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace {

constexpr int kSeconds = 4;
constexpr size_t kTotal = 8000 * kSeconds;

const std::vector<int16_t>& SpeechSignal() {
  static const auto signal =
      zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, kTotal, 7);
  return signal;
}

void BM_Encode(benchmark::State& st) {
  const auto codec = static_cast<int32_t>(st.range(0));
  const auto frameSamples = static_cast<size_t>(st.range(1));
  const auto& pcm = SpeechSignal();
  VoiceCodecState state;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  ZELK_VOICE_EncReset(&state, codec);
  size_t pos = 0;
  for (auto _ : st) {
    if (pos + frameSamples > pcm.size()) pos = 0;
    benchmark::DoNotOptimize(ZELK_VOICE_EncodeFrame(&state, pcm.data() + pos, frame,
                                                    static_cast<int32_t>(frameSamples), codec));
    benchmark::ClobberMemory();
    pos += frameSamples;
  }
  st.counters["samples/s"] = benchmark::Counter(static_cast<double>(st.iterations() * frameSamples),
                                                benchmark::Counter::kIsRate);
}

void BM_Decode(benchmark::State& st) {
  const auto codec = static_cast<int32_t>(st.range(0));
  const auto frameSamples = static_cast<size_t>(st.range(1));
  const auto& pcm = SpeechSignal();
  // Encode the whole signal once, then decode the frames in a loop.
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, codec);
  const size_t frames = pcm.size() / frameSamples;
  std::vector<uint16_t> stream(frames * ZELK_VOICE_MAX_FRAME_WORDS);
  for (size_t f = 0; f < frames; ++f) {
    ZELK_VOICE_EncodeFrame(&enc, pcm.data() + f * frameSamples,
                           stream.data() + f * ZELK_VOICE_MAX_FRAME_WORDS,
                           static_cast<int32_t>(frameSamples), codec);
  }
  int16_t out[ZELK_VOICE_MAX_SAMPLES];
  int16_t count = 0;
  ZELK_VOICE_DecReset(&dec, codec);
  size_t f = 0;
  for (auto _ : st) {
    if (f == frames) f = 0;
    benchmark::DoNotOptimize(ZELK_VOICE_DecodeFrame(
        &dec, stream.data() + f * ZELK_VOICE_MAX_FRAME_WORDS, out, codec, &count));
    benchmark::ClobberMemory();
    ++f;
  }
  st.counters["samples/s"] = benchmark::Counter(static_cast<double>(st.iterations() * frameSamples),
                                                benchmark::Counter::kIsRate);
}

void CodecsAndFrames(benchmark::internal::Benchmark* b) {
  b->ArgNames({"codec", "samples"});
  for (int codec = G711_ALAW; codec <= ADPCM_2BIT; ++codec) {
    for (int samples : {160, 480}) b->Args({codec, samples});
  }
}

BENCHMARK(BM_Encode)->Apply(CodecsAndFrames);
BENCHMARK(BM_Decode)->Apply(CodecsAndFrames);

}  // namespace

BENCHMARK_MAIN();
