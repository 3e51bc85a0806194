// Proves that no exported function allocates, on any codec, frame size or
// error path. The test program replaces malloc, calloc, realloc, the aligned
// allocators, free and every operator new and delete with counting versions
// that hand on to the C library; counting is switched on only around the
// library calls.
//
// Under AddressSanitizer the sanitizer owns malloc and its replacement would
// bypass it, so there the count comes from the sanitizer's own allocation
// hooks instead, which see every malloc and operator new as well.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "frame_bytes.h"
#include "test_signals.h"
#include "zelk_voice_engine.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZELK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELK_TEST_ASAN 1
#endif
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void NoteAllocation() {
  if (g_counting.load(std::memory_order_relaxed)) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

#if defined(ZELK_TEST_ASAN)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void OnMalloc(const volatile void*, size_t) { NoteAllocation(); }
void OnFree(const volatile void*) {}
const bool g_hooksInstalled = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
}  // namespace

#else

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
  NoteAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  NoteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  NoteAllocation();
  return __libc_realloc(p, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size) {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  NoteAllocation();
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) { __libc_free(p); }
}  // extern "C"

namespace {
void* CountedNew(size_t size) {
  NoteAllocation();
  void* p = __libc_malloc(size == 0 ? 1 : size);
  if (p == nullptr) std::abort();  // the test program is built with exceptions, but never runs out
  return p;
}
void* CountedNewAligned(size_t size, std::align_val_t alignment) {
  NoteAllocation();
  void* p = __libc_memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size);
  if (p == nullptr) std::abort();
  return p;
}
const bool g_hooksInstalled = true;
}  // namespace

void* operator new(size_t size) { return CountedNew(size); }
void* operator new[](size_t size) { return CountedNew(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedNew(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedNew(size); }
void* operator new(size_t size, std::align_val_t a) { return CountedNewAligned(size, a); }
void* operator new[](size_t size, std::align_val_t a) { return CountedNewAligned(size, a); }
void* operator new(size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return CountedNewAligned(size, a);
}
void* operator new[](size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return CountedNewAligned(size, a);
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { __libc_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { __libc_free(p); }

#endif

namespace {

constexpr int CODEC_TYPES[] = {G711_ALAW, G711_ULAW, IMA_ADPCM, ADPCM_2BIT};
constexpr int FRAME_SIZES[] = {80, 160, 240, 320, 400, 480};

// Counts the allocations made while `calls` runs. Nothing else may run in
// between: in particular no gtest assertion, which may allocate.
template <typename Calls>
long AllocationsDuring(Calls&& calls) {
  g_allocations.store(0);
  g_counting.store(true);
  calls();
  g_counting.store(false);
  return g_allocations.load();
}

TEST(NoAllocation, CounterSeesMallocAndNew) {
  ASSERT_TRUE(g_hooksInstalled);
  // Without this the zero counts below would prove nothing.
  const long counted = AllocationsDuring([] {
    void* volatile p = std::malloc(24);
    std::free(p);
    int* volatile q = new int(7);
    delete q;
    std::vector<int> v(100);
    v.push_back(1);
  });
  EXPECT_GE(counted, 3);
}

TEST(NoAllocation, EveryCallOnEveryCodecAndFrameSize) {
  const std::vector<int16_t> pcm =
      zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 480, 7);
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> out{};
  VoiceCodecState enc{};
  VoiceCodecState dec{};
  std::vector<uint32_t> statuses;
  statuses.reserve(256);

  const long counted = AllocationsDuring([&] {
    for (int t : CODEC_TYPES) {
      statuses.push_back(ZELK_VOICE_EncReset(&enc, t));
      statuses.push_back(ZELK_VOICE_DecReset(&dec, t));
      for (int n : FRAME_SIZES) {
        statuses.push_back(ZELK_VOICE_EncodeFrame(&enc, pcm.data(), frame.data(), n, t));
        int16_t count = 0;
        statuses.push_back(ZELK_VOICE_DecodeFrame(&dec, frame.data(), out.data(), t, &count));
      }
    }
    statuses.push_back(ZELK_VOICE_GetVersionNumber());
  });
  EXPECT_EQ(counted, 0);
  for (size_t i = 0; i + 1 < statuses.size(); ++i) EXPECT_EQ(statuses[i], VOICE_OK) << "call " << i;
}

TEST(NoAllocation, EveryRefusedCall) {
  const std::vector<int16_t> pcm(480, 100);
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> out{};
  VoiceCodecState state{};
  int16_t count = 0;
  std::vector<uint32_t> statuses;
  statuses.reserve(64);
  // Frames that fail the header, the zero length and the per-codec length rule.
  const auto badHeader = zelk::testing::FrameWithHeader(0x0000, 40, 1);
  const auto zeroLength = zelk::testing::FrameWithHeader(0x0100, 0, 1);
  const auto oddLength = zelk::testing::FrameWithHeader(0x0100, 50, 240);

  const long counted = AllocationsDuring([&] {
    void* s = &state;
    statuses.push_back(ZELK_VOICE_EncodeFrame(nullptr, pcm.data(), frame.data(), 80, 1));
    statuses.push_back(ZELK_VOICE_EncodeFrame(s, nullptr, frame.data(), 80, 1));
    statuses.push_back(ZELK_VOICE_EncodeFrame(s, pcm.data(), nullptr, 80, 1));
    statuses.push_back(ZELK_VOICE_EncodeFrame(s, pcm.data(), frame.data(), 81, 1));
    statuses.push_back(ZELK_VOICE_EncodeFrame(s, pcm.data(), frame.data(), 80, 5));
    statuses.push_back(ZELK_VOICE_DecodeFrame(nullptr, frame.data(), out.data(), 1, &count));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, nullptr, out.data(), 1, &count));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, frame.data(), nullptr, 1, &count));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, frame.data(), out.data(), 1, nullptr));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, badHeader.data(), out.data(), 1, &count));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, zeroLength.data(), out.data(), 1, &count));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, oddLength.data(), out.data(), 1, &count));
    statuses.push_back(ZELK_VOICE_DecodeFrame(s, oddLength.data(), out.data(), 0, &count));
    statuses.push_back(ZELK_VOICE_EncReset(nullptr, 3));
    statuses.push_back(ZELK_VOICE_EncReset(s, 0));
    statuses.push_back(ZELK_VOICE_DecReset(nullptr, 4));
    statuses.push_back(ZELK_VOICE_DecReset(s, 5));
  });
  EXPECT_EQ(counted, 0);
  const std::vector<uint32_t> expected{
      VOICE_ERR_NULL_STATE,  VOICE_ERR_NULL_INPUT, VOICE_ERR_NULL_OUTPUT, VOICE_ERR_ENC_LENGTH,
      VOICE_ERR_ENC_TYPE,    VOICE_ERR_NULL_STATE, VOICE_ERR_NULL_INPUT,  VOICE_ERR_NULL_OUTPUT,
      VOICE_ERR_NULL_OUTPUT, VOICE_ERR_DEC_HEADER, VOICE_ERR_DEC_LENGTH,  VOICE_ERR_DEC_LENGTH,
      VOICE_ERR_DEC_TYPE,    VOICE_ERR_NULL_STATE, VOICE_ERR_ENC_TYPE,    VOICE_ERR_NULL_STATE,
      VOICE_ERR_DEC_TYPE};
  EXPECT_EQ(statuses, expected);
}

TEST(NoAllocation, ClassStyleExports) {
  int answer = 0;
  const long counted = AllocationsDuring([&] {
    CZelk_voice_engine a;
    CZelk_voice_engine b;
    a = b;
    answer = fnZelk_voice_engine() + nZelk_voice_engine;
  });
  EXPECT_EQ(counted, 0);
  EXPECT_EQ(answer, 42);
}

}  // namespace
