// Shared pieces of the RTP component's tests: engine state blocks with guard
// bytes, canary-filled buffers, the frame sizes, and the real recording.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "zelk_voice_engine.h"
#include "zelk_voice_rtp.h"

namespace zelk::rtp_test {

inline constexpr int32_t FRAME_SIZES[] = {80, 160, 240, 320, 400, 480};
inline constexpr int32_t ALL_CODECS[] = {G711_ALAW, G711_ULAW, IMA_ADPCM, ADPCM_2BIT};
inline constexpr uint8_t CANARY = 0xA5;

// An engine state block followed by guard bytes that no call may touch.
struct alignas(8) Block {
  uint8_t bytes[ZELK_VOICE_STATE_SIZE + 12];

  explicit Block(uint8_t fill = CANARY) { std::memset(bytes, fill, sizeof bytes); }
  void* data() { return bytes; }
  bool operator==(const Block& o) const { return std::memcmp(bytes, o.bytes, sizeof bytes) == 0; }

  static Block EncReset(int32_t codec) {
    Block b;
    EXPECT_EQ(ZELK_VOICE_EncReset(b.bytes, codec), VOICE_OK);
    return b;
  }
  static Block DecReset(int32_t codec) {
    Block b;
    EXPECT_EQ(ZELK_VOICE_DecReset(b.bytes, codec), VOICE_OK);
    return b;
  }
};

// A buffer of `size` elements followed by guard elements, all canary at first.
template <typename T>
struct Guarded {
  static constexpr size_t GUARD = 16;
  std::vector<T> v;
  T fill;

  explicit Guarded(size_t size, T canary) : v(size + GUARD, canary), fill(canary) {}
  T* data() { return v.data(); }
  size_t size() const { return v.size() - GUARD; }
  bool Untouched() const {
    return std::all_of(v.begin(), v.end(), [this](T x) { return x == fill; });
  }
  bool GuardUntouched(size_t from) const {
    return std::all_of(v.begin() + static_cast<ptrdiff_t>(from), v.end(),
                       [this](T x) { return x == fill; });
  }
};

// The first clean 8 kHz recording of Debian's codec2-examples that is present.
inline std::vector<int16_t> LoadRecording() {
  for (const char* name : {"hts1a", "hts2a", "forig", "morig"}) {
    const std::string path = std::string("/usr/share/codec2/raw/") + name + ".raw";
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      std::vector<int16_t> samples;
      int16_t s;
      while (std::fread(&s, sizeof s, 1, f) == 1) samples.push_back(s);  // little-endian host
      std::fclose(f);
      if (!samples.empty()) return samples;
    }
  }
  return {};
}

}  // namespace zelk::rtp_test
