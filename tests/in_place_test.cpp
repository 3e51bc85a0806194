// Overlapping buffers through the exported API: a host may hand in one buffer
// for both directions (pcm == frame) or overlapping parts of one. Encoding
// reads every sample before it writes the frame and decoding takes every code
// out of the frame before it writes a sample, so each call must give exactly
// what separate buffers give: every codec, every frame size, the output moved
// against the input by every word offset at which the two overlap, in both
// directions, and a few at which they just miss. The rest of the shared buffer
// and the state must come out exactly as with separate buffers too.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace {

constexpr int32_t CODECS[] = {G711_ALAW, G711_ULAW, IMA_ADPCM, ADPCM_2BIT};
constexpr int FRAME_SIZES[] = {80, 160, 240, 320, 400, 480};

int PayloadWords(int32_t codec, int n) {
  return n / (codec == IMA_ADPCM ? 4 : codec == ADPCM_2BIT ? 8 : 2);
}

// Every offset at which an output of `outWords` words starting `shift` words
// after an input of `inWords` words overlaps it, plus the two nearest at
// which it does not.
std::vector<int> Shifts(int inWords, int outWords) {
  std::vector<int> shifts;
  for (int shift = -outWords; shift <= inWords; ++shift) shifts.push_back(shift);
  return shifts;
}

// A state block that has already coded some signal, so the adaptive codecs do
// not start from their reset values.
VoiceCodecState RunningState(int32_t codec, bool encoder) {
  VoiceCodecState state;
  std::memset(&state, 0x5C, sizeof state);  // G.711 never touches it
  EXPECT_EQ(encoder ? ZELK_VOICE_EncReset(&state, codec) : ZELK_VOICE_DecReset(&state, codec),
            VOICE_OK);
  const auto warmUp = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 960, 21);
  VoiceCodecState enc;
  ZELK_VOICE_EncReset(&enc, codec);
  for (size_t at = 0; at < warmUp.size(); at += 480) {
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    if (encoder) {
      EXPECT_EQ(ZELK_VOICE_EncodeFrame(&state, &warmUp[at], frame, 480, codec), VOICE_OK);
    } else {
      EXPECT_EQ(ZELK_VOICE_EncodeFrame(&enc, &warmUp[at], frame, 480, codec), VOICE_OK);
      EXPECT_EQ(ZELK_VOICE_DecodeFrame(&state, frame, pcm, codec, &count), VOICE_OK);
    }
  }
  return state;
}

bool SameState(const VoiceCodecState& a, const VoiceCodecState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// One shared buffer: the input at word `in`, the output at `in + shift`, and
// seeded noise everywhere else.
struct Shared {
  std::vector<uint16_t> words;
  size_t in;
  explicit Shared(size_t inWords, size_t outWords, uint32_t seed)
      : words(inWords + 2 * outWords + 8), in(outWords + 4) {
    const auto noise = zelk::testing::MakeSignal(zelk::testing::Signal::kNoise, words.size(), seed);
    std::memcpy(words.data(), noise.data(), 2 * words.size());
  }
  uint16_t* At(int shift) { return words.data() + static_cast<std::ptrdiff_t>(in) + shift; }
};

std::string Where(int32_t codec, int n, int shift) {
  return "codec " + std::to_string(codec) + " n=" + std::to_string(n) +
         " shift=" + std::to_string(shift);
}

TEST(InPlace, EncodeOverlappingItsInputGivesTheSeparateBufferFrame) {
  for (const int32_t codec : CODECS) {
    const VoiceCodecState start = RunningState(codec, true);
    for (const int n : FRAME_SIZES) {
      const int frameWords = 2 + PayloadWords(codec, n);
      const auto pcm = zelk::testing::MakeSignal(zelk::testing::Signal::kNoise,
                                                 static_cast<size_t>(n), static_cast<uint32_t>(n));
      // The frame and the state that separate buffers give.
      VoiceCodecState separateState = start;
      std::vector<uint16_t> separate(static_cast<size_t>(frameWords));
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&separateState, pcm.data(), separate.data(), n, codec),
                VOICE_OK);

      for (const int shift : Shifts(n, frameWords)) {
        Shared shared(static_cast<size_t>(n), static_cast<size_t>(frameWords), 7);
        std::memcpy(shared.At(0), pcm.data(), 2 * pcm.size());
        auto expected = shared.words;
        std::memcpy(expected.data() + static_cast<std::ptrdiff_t>(shared.in) + shift,
                    separate.data(), 2 * separate.size());

        VoiceCodecState state = start;
        ASSERT_EQ(ZELK_VOICE_EncodeFrame(&state, reinterpret_cast<const int16_t*>(shared.At(0)),
                                         shared.At(shift), n, codec),
                  VOICE_OK);
        ASSERT_EQ(shared.words, expected) << Where(codec, n, shift);
        ASSERT_TRUE(SameState(state, separateState)) << Where(codec, n, shift);
      }
    }
  }
}

TEST(InPlace, DecodeOverlappingItsFrameGivesTheSeparateBufferSamples) {
  for (const int32_t codec : CODECS) {
    const VoiceCodecState start = RunningState(codec, false);
    for (const int n : FRAME_SIZES) {
      const int frameWords = 2 + PayloadWords(codec, n);
      // A frame of noise: every code value turns up.
      const auto noise = zelk::testing::MakeSignal(
          zelk::testing::Signal::kNoise, static_cast<size_t>(n), static_cast<uint32_t>(n + 1));
      VoiceCodecState enc;
      ZELK_VOICE_EncReset(&enc, codec);
      std::vector<uint16_t> frame(static_cast<size_t>(frameWords));
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, noise.data(), frame.data(), n, codec), VOICE_OK);

      VoiceCodecState separateState = start;
      std::vector<int16_t> separate(static_cast<size_t>(n));
      int16_t count = 0;
      ASSERT_EQ(
          ZELK_VOICE_DecodeFrame(&separateState, frame.data(), separate.data(), codec, &count),
          VOICE_OK);
      ASSERT_EQ(count, n);

      for (const int shift : Shifts(frameWords, n)) {
        Shared shared(static_cast<size_t>(frameWords), static_cast<size_t>(n), 8);
        std::memcpy(shared.At(0), frame.data(), 2 * frame.size());
        auto expected = shared.words;
        std::memcpy(expected.data() + static_cast<std::ptrdiff_t>(shared.in) + shift,
                    separate.data(), 2 * separate.size());

        VoiceCodecState state = start;
        count = 0;
        ASSERT_EQ(
            ZELK_VOICE_DecodeFrame(&state, shared.At(0),
                                   reinterpret_cast<int16_t*>(shared.At(shift)), codec, &count),
            VOICE_OK);
        ASSERT_EQ(count, n) << Where(codec, n, shift);
        ASSERT_EQ(shared.words, expected) << Where(codec, n, shift);
        ASSERT_TRUE(SameState(state, separateState)) << Where(codec, n, shift);
      }
    }
  }
}

// The case hosts meet most: one buffer, encoded into and decoded back in
// place, frame after frame, against a pair of separate buffers.
TEST(InPlace, OneBufferForBothDirectionsOverAStream) {
  const auto speech = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 8000, 5);
  for (const int32_t codec : CODECS) {
    VoiceCodecState enc{}, dec{}, encSeparate{}, decSeparate{};  // G.711 leaves them as they are
    ZELK_VOICE_EncReset(&enc, codec);
    ZELK_VOICE_DecReset(&dec, codec);
    ZELK_VOICE_EncReset(&encSeparate, codec);
    ZELK_VOICE_DecReset(&decSeparate, codec);
    for (size_t at = 0; at + 160 <= speech.size(); at += 160) {
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
      int16_t separate[ZELK_VOICE_MAX_SAMPLES];
      int16_t count = 0;
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&encSeparate, &speech[at], frame, 160, codec), VOICE_OK);
      ASSERT_EQ(ZELK_VOICE_DecodeFrame(&decSeparate, frame, separate, codec, &count), VOICE_OK);

      uint16_t buffer[ZELK_VOICE_MAX_SAMPLES];
      std::memcpy(buffer, &speech[at], 2 * 160);
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, reinterpret_cast<const int16_t*>(buffer), buffer, 160,
                                       codec),
                VOICE_OK);
      const int frameWords = 2 + PayloadWords(codec, 160);
      ASSERT_EQ(std::memcmp(buffer, frame, 2 * static_cast<size_t>(frameWords)), 0)
          << "codec " << codec << " at " << at;
      ASSERT_EQ(
          ZELK_VOICE_DecodeFrame(&dec, buffer, reinterpret_cast<int16_t*>(buffer), codec, &count),
          VOICE_OK);
      ASSERT_EQ(std::memcmp(buffer, separate, 2 * 160), 0) << "codec " << codec << " at " << at;
    }
    ASSERT_TRUE(SameState(enc, encSeparate));
    ASSERT_TRUE(SameState(dec, decSeparate));
  }
}

}  // namespace
