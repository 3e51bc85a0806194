// Headerless recordings (Debian's codec2-examples ship speech as .raw files):
// 16-bit little-endian samples, read byte by byte so that every host gets the
// same values.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zelk::testing {

// The samples of the file at `path`; empty when it cannot be read.
inline std::vector<int16_t> ReadRawRecording(const std::string& path) {
  std::vector<int16_t> pcm;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return pcm;
  unsigned char pair[2];
  while (std::fread(pair, 1, 2, f) == 2) {
    pcm.push_back(static_cast<int16_t>(static_cast<uint16_t>(pair[0] | (pair[1] << 8))));
  }
  std::fclose(f);
  return pcm;
}

}  // namespace zelk::testing
