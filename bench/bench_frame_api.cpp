// Samples per second through ZELK_VOICE_EncodeFrame and ZELK_VOICE_DecodeFrame,
// with separate and with overlapping buffers.
#include <benchmark/benchmark.h>

#include <algorithm>
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

// A host's round trip, one frame each way: the samples copied into a buffer,
// encoded, decoded. With in_place set the frame goes into the samples' buffer
// and the samples back into the frame's (the calls then work through scratch
// copies); otherwise three separate buffers. The difference is the cost of
// overlapping buffers.
void BM_RoundTrip(benchmark::State& st) {
  const auto codec = static_cast<int32_t>(st.range(0));
  const bool inPlace = st.range(1) != 0;
  constexpr size_t kFrame = 160;
  const auto& pcm = SpeechSignal();
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, codec);
  ZELK_VOICE_DecReset(&dec, codec);
  uint16_t buffer[ZELK_VOICE_MAX_SAMPLES];
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  int16_t out[ZELK_VOICE_MAX_SAMPLES];
  auto* samples = reinterpret_cast<int16_t*>(buffer);
  uint16_t* const frameOut = inPlace ? buffer : frame;
  int16_t* const pcmOut = inPlace ? samples : out;
  int16_t count = 0;
  size_t pos = 0;
  for (auto _ : st) {
    if (pos + kFrame > pcm.size()) pos = 0;
    std::copy_n(pcm.data() + pos, kFrame, samples);
    ZELK_VOICE_EncodeFrame(&enc, samples, frameOut, kFrame, codec);
    benchmark::DoNotOptimize(ZELK_VOICE_DecodeFrame(&dec, frameOut, pcmOut, codec, &count));
    benchmark::ClobberMemory();
    pos += kFrame;
  }
  st.counters["samples/s"] = benchmark::Counter(static_cast<double>(st.iterations() * kFrame),
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
BENCHMARK(BM_RoundTrip)->ArgNames({"codec", "in_place"})->ArgsProduct({{1, 2, 3, 4}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
