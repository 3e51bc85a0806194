// Many independent streams on many threads at once. Every stream owns its
// state block and buffers and nothing else is shared, so each must produce
// exactly what it produces when run alone. Built under ThreadSanitizer in CI,
// where any hidden shared write would also be reported as a race.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <latch>
#include <random>
#include <thread>
#include <vector>

#include "test_signals.h"
#include "zelk_voice_engine.h"

namespace {

using zelk::testing::ALL_SIGNALS;
using zelk::testing::MakeSignal;

constexpr int STREAMS = 48;
constexpr int FRAMES_PER_STREAM = 40;
constexpr int THREADS = 8;

using Frame = std::vector<uint16_t>;

// One encoder and one decoder stream of the same codec: the encoder's input,
// the frame sizes it is cut into, and what each direction produces.
struct StreamPlan {
  int codecType = 0;
  std::vector<int> frameSizes;
  std::vector<int16_t> pcm;
};

struct StreamResult {
  std::vector<Frame> frames;
  std::vector<int16_t> decoded;
  VoiceCodecState finalEncoder{};
  VoiceCodecState finalDecoder{};
};

std::vector<StreamPlan> MakePlans() {
  std::vector<StreamPlan> plans(STREAMS);
  std::mt19937 rng(20240611);
  for (int s = 0; s < STREAMS; ++s) {
    StreamPlan& p = plans[static_cast<size_t>(s)];
    p.codecType = 1 + s % 4;
    size_t total = 0;
    for (int f = 0; f < FRAMES_PER_STREAM; ++f) {
      p.frameSizes.push_back(80 * static_cast<int>(1 + rng() % 6));
      total += static_cast<size_t>(p.frameSizes.back());
    }
    const auto signal = ALL_SIGNALS[static_cast<size_t>(s) % std::size(ALL_SIGNALS)];
    p.pcm = MakeSignal(signal, total, static_cast<uint32_t>(1000 + s));
  }
  return plans;
}

// Runs one stream step by step so that a thread can interleave several.
class EncoderTask {
 public:
  EncoderTask(const StreamPlan& plan, StreamResult& out) : plan_(plan), out_(out) {
    std::memset(&state_, 0xEE, sizeof(state_));
    ok_ = ZELK_VOICE_EncReset(&state_, plan_.codecType) == VOICE_OK;
  }
  bool Done() const { return frame_ == plan_.frameSizes.size(); }
  void Step() {
    const int n = plan_.frameSizes[frame_];
    Frame f(ZELK_VOICE_MAX_FRAME_WORDS);
    ok_ &= ZELK_VOICE_EncodeFrame(&state_, plan_.pcm.data() + offset_, f.data(), n,
                                  plan_.codecType) == VOICE_OK;
    f.resize(2 + f[1]);
    out_.frames.push_back(std::move(f));
    offset_ += static_cast<size_t>(n);
    ++frame_;
    if (Done()) out_.finalEncoder = state_;
  }
  bool Ok() const { return ok_; }

 private:
  const StreamPlan& plan_;
  StreamResult& out_;
  VoiceCodecState state_;
  size_t frame_ = 0;
  size_t offset_ = 0;
  bool ok_ = false;
};

class DecoderTask {
 public:
  DecoderTask(int codecType, const std::vector<Frame>& frames, StreamResult& out)
      : codecType_(codecType), frames_(frames), out_(out) {
    std::memset(&state_, 0x11, sizeof(state_));
    ok_ = ZELK_VOICE_DecReset(&state_, codecType_) == VOICE_OK;
  }
  bool Done() const { return frame_ == frames_.size(); }
  void Step() {
    std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> pcm{};
    int16_t count = 0;
    ok_ &= ZELK_VOICE_DecodeFrame(&state_, frames_[frame_].data(), pcm.data(), codecType_,
                                  &count) == VOICE_OK;
    out_.decoded.insert(out_.decoded.end(), pcm.begin(), pcm.begin() + count);
    ++frame_;
    if (Done()) out_.finalDecoder = state_;
  }
  bool Ok() const { return ok_; }

 private:
  int codecType_;
  const std::vector<Frame>& frames_;
  StreamResult& out_;
  VoiceCodecState state_;
  size_t frame_ = 0;
  bool ok_ = false;
};

// Each stream alone, one after another: the expected results.
std::vector<StreamResult> RunAlone(const std::vector<StreamPlan>& plans) {
  std::vector<StreamResult> results(plans.size());
  for (size_t s = 0; s < plans.size(); ++s) {
    EncoderTask enc(plans[s], results[s]);
    while (!enc.Done()) enc.Step();
    EXPECT_TRUE(enc.Ok()) << "stream " << s;
    DecoderTask dec(plans[s].codecType, results[s].frames, results[s]);
    while (!dec.Done()) dec.Step();
    EXPECT_TRUE(dec.Ok()) << "stream " << s;
  }
  return results;
}

bool SameBlock(const VoiceCodecState& a, const VoiceCodecState& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(ThreadStress, ConcurrentStreamsMatchSingleThreadedRuns) {
  const std::vector<StreamPlan> plans = MakePlans();
  const std::vector<StreamResult> expected = RunAlone(plans);

  // Every thread interleaves, frame by frame, the encoders of some streams
  // and the decoders of others (fed the frames of the lone run), so all four
  // codecs and every frame size are in flight at once.
  std::vector<StreamResult> got(plans.size());
  std::vector<char> threadOk(THREADS, 0);
  std::latch start(THREADS);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      std::vector<EncoderTask> encoders;
      std::vector<DecoderTask> decoders;
      for (size_t s = static_cast<size_t>(t); s < plans.size(); s += THREADS) {
        encoders.emplace_back(plans[s], got[s]);
        const size_t other = (s + plans.size() / 2) % plans.size();
        decoders.emplace_back(plans[other].codecType, expected[other].frames, got[other]);
      }
      start.arrive_and_wait();
      bool busy = true;
      while (busy) {
        busy = false;
        for (auto& e : encoders) {
          if (!e.Done()) e.Step(), busy = true;
        }
        for (auto& d : decoders) {
          if (!d.Done()) d.Step(), busy = true;
        }
      }
      bool ok = true;
      for (auto& e : encoders) ok &= e.Ok();
      for (auto& d : decoders) ok &= d.Ok();
      threadOk[static_cast<size_t>(t)] = ok;
    });
  }
  for (auto& th : threads) th.join();

  for (int t = 0; t < THREADS; ++t) EXPECT_TRUE(threadOk[static_cast<size_t>(t)]) << "thread " << t;
  for (size_t s = 0; s < plans.size(); ++s) {
    SCOPED_TRACE(testing::Message() << "stream " << s << ", codec " << plans[s].codecType);
    EXPECT_EQ(got[s].frames, expected[s].frames);
    EXPECT_EQ(got[s].decoded, expected[s].decoded);
    EXPECT_TRUE(SameBlock(got[s].finalEncoder, expected[s].finalEncoder));
    EXPECT_TRUE(SameBlock(got[s].finalDecoder, expected[s].finalDecoder));
  }
}

}  // namespace
