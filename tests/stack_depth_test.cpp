// Measures how deep each exported function reaches into the stack, by
// painting. A thread runs on a stack that the test owns and has filled with a
// known byte; after the call, the lowest byte that no longer holds it marks
// the deepest point reached. The same run with an empty callee gives the
// baseline (thread start-up, thread-local storage at the top of the stack,
// the caller's own frame), so the difference is the call's own use.
//
// Hosts run the library on media threads with small stacks; the figures are
// printed for the record and the test holds every call to a bound.
// Sanitizers pad frames and move locals off the stack, so there the figures
// mean nothing and the test is skipped.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_signals.h"
#include "zelk_voice_engine.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELK_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(undefined_behavior_sanitizer)
#define ZELK_TEST_SANITIZED 1
#endif
#endif

namespace {

constexpr size_t THREAD_STACK_BYTES = 256 * 1024;
constexpr size_t STACK_BOUND_BYTES = 4096;

enum class Call { kNothing, kEncode, kDecode, kEncReset, kDecReset, kVersion, kKnownFrame };

struct Job {
  Call call = Call::kNothing;
  int codecType = 0;
  int sampleCount = 0;
  VoiceCodecState* state = nullptr;
  const int16_t* pcmIn = nullptr;
  uint16_t* frame = nullptr;
  int16_t* pcmOut = nullptr;
  uint32_t status = 0;
};

__attribute__((noinline)) uint32_t Nothing() {
  asm volatile("");
  return 0;
}

// A callee whose frame is known: 2 KiB of locals, all written.
__attribute__((noinline)) uint32_t UsesTwoKilobytes(const VoiceCodecState* state) {
  volatile uint8_t block[2048];
  for (size_t i = 0; i < sizeof(block); ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
  return block[state->opaque[0] % sizeof(block)] == 0 ? 1u : 0u;
}

// One frame for every kind of call, so that the baseline and the measured
// runs share it and only the callee differs. The unused pad puts the callee
// well below whatever the thread's start-up code dirtied, so that a callee
// using less than that still shows its full depth.
void* RunJob(void* arg) {
  auto* job = static_cast<Job*>(arg);
  volatile uint8_t pad[1024];
  pad[0] = 0;
  if (pad[0] != 0) return nullptr;
  int16_t count = 0;
  switch (job->call) {
    case Call::kNothing:
      job->status = Nothing();
      break;
    case Call::kEncode:
      job->status = ZELK_VOICE_EncodeFrame(job->state, job->pcmIn, job->frame, job->sampleCount,
                                           job->codecType);
      break;
    case Call::kDecode:
      job->status =
          ZELK_VOICE_DecodeFrame(job->state, job->frame, job->pcmOut, job->codecType, &count);
      break;
    case Call::kEncReset:
      job->status = ZELK_VOICE_EncReset(job->state, job->codecType);
      break;
    case Call::kDecReset:
      job->status = ZELK_VOICE_DecReset(job->state, job->codecType);
      break;
    case Call::kVersion:
      job->status = ZELK_VOICE_GetVersionNumber() == ZELK_VOICE_VERSION_NUMBER ? 0 : 1;
      break;
    case Call::kKnownFrame:
      job->status = UsesTwoKilobytes(job->state);
      break;
  }
  return nullptr;
}

// Bytes of the painted stack touched by running the job on a fresh thread.
size_t TouchedBytes(Job& job, uint8_t paint) {
  auto* stack = static_cast<uint8_t*>(std::aligned_alloc(4096, THREAD_STACK_BYTES));
  EXPECT_NE(stack, nullptr);
  std::memset(stack, paint, THREAD_STACK_BYTES);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, stack, THREAD_STACK_BYTES);
  pthread_t thread;
  EXPECT_EQ(pthread_create(&thread, &attr, RunJob, &job), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  size_t lowest = 0;  // the stack grows down, from the end of the buffer
  while (lowest < THREAD_STACK_BYTES && stack[lowest] == paint) ++lowest;
  std::free(stack);
  return THREAD_STACK_BYTES - lowest;
}

// Two paints, in case the deepest byte written happens to equal one of them.
size_t DeepestUse(Job& job) { return std::max(TouchedBytes(job, 0xA5), TouchedBytes(job, 0x5A)); }

size_t OwnUse(Job job) {
  Job nothing = job;
  nothing.call = Call::kNothing;
  const size_t baseline = DeepestUse(nothing);
  const size_t used = DeepestUse(job);
  EXPECT_EQ(job.status, 0u);
  return used > baseline ? used - baseline : 0;
}

struct Buffers {
  VoiceCodecState state{};
  std::vector<int16_t> pcm = zelk::testing::MakeSignal(zelk::testing::Signal::kNoise, 480, 3);
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> out{};
};

TEST(StackDepth, EveryExportedFunctionStaysWithinBound) {
#if defined(ZELK_TEST_SANITIZED)
  GTEST_SKIP() << "sanitizers change stack frames; measured in the plain build only";
#endif
  Buffers b;
  size_t worst[6] = {};
  const char* names[6] = {"",
                          "ZELK_VOICE_EncodeFrame",
                          "ZELK_VOICE_DecodeFrame",
                          "ZELK_VOICE_EncReset",
                          "ZELK_VOICE_DecReset",
                          "ZELK_VOICE_GetVersionNumber"};
  auto note = [&](Call c, size_t bytes) {
    auto& w = worst[static_cast<int>(c)];
    w = std::max(w, bytes);
  };

  for (int t = G711_ALAW; t <= ADPCM_2BIT; ++t) {
    std::string line = "codec " + std::to_string(t) + ":";
    for (int n = 80; n <= 480; n += 80) {
      Job job{Call::kEncReset, t, n, &b.state, b.pcm.data(), b.frame.data(), b.out.data(), 0};
      note(Call::kEncReset, OwnUse(job));
      job.call = Call::kEncode;
      const size_t enc = OwnUse(job);
      note(Call::kEncode, enc);
      // Decode the frame just made, from a freshly reset block.
      job.call = Call::kDecReset;
      note(Call::kDecReset, OwnUse(job));
      job.call = Call::kDecode;
      const size_t dec = OwnUse(job);
      note(Call::kDecode, dec);
      line += " n=" + std::to_string(n) + " enc " + std::to_string(enc) + " dec " +
              std::to_string(dec) + ";";
    }
    std::printf("%s\n", line.c_str());
  }
  Job version{Call::kVersion};
  note(Call::kVersion, OwnUse(version));

  for (int c = 1; c < 6; ++c) {
    std::printf("%-28s deepest %5zu bytes\n", names[c], worst[c]);
    RecordProperty(names[c], static_cast<int>(worst[c]));
    EXPECT_LT(worst[c], STACK_BOUND_BYTES) << names[c];
  }
}

// On s390x every caller provides a 160-byte register save area at the bottom
// of its frame for its callee, which the empty callee of the baseline already
// writes into; a callee's own bytes below that are then counted 160 short.
#if defined(__s390x__)
constexpr size_t CALLER_SAVE_AREA_BYTES = 160;
#else
constexpr size_t CALLER_SAVE_AREA_BYTES = 0;
#endif

// The measurement itself: a callee with a known frame must show up with
// about that many bytes, or the small figures above would prove nothing.
TEST(StackDepth, PaintingSeesAKnownFrame) {
#if defined(ZELK_TEST_SANITIZED)
  GTEST_SKIP() << "sanitizers change stack frames; measured in the plain build only";
#endif
  VoiceCodecState state{};
  Job job{Call::kKnownFrame};
  job.state = &state;
  const size_t used = OwnUse(job);
  EXPECT_GE(used + CALLER_SAVE_AREA_BYTES, 2048u);
  EXPECT_LT(used, 2048u + 128u);
}

}  // namespace
