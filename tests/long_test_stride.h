// Scales the long tests down for slow runs (emulators, sanitizers on small
// machines): with ZELK_LONG_TEST_STRIDE=N in the environment (N >= 1, default
// 1) they take 1/N of every recording, of their seeded streams and of their
// random trials.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace zelk::testing {

inline int LongTestStride() {
  static const int stride = [] {
    const char* text = std::getenv("ZELK_LONG_TEST_STRIDE");
    if (text == nullptr) return 1;
    const long n = std::strtol(text, nullptr, 10);
    return n >= 1 && n <= 1000000 ? static_cast<int>(n) : 1;
  }();
  return stride;
}

// count scaled down by the stride, but never below minimum.
inline size_t Scaled(size_t count, size_t minimum = 1) {
  const size_t n = count / static_cast<size_t>(LongTestStride());
  return n < minimum ? minimum : n;
}

}  // namespace zelk::testing
