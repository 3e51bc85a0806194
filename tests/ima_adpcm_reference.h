// A plain IMA ADPCM coder, one step after another as the algorithm is usually
// stated: no derived tables, no remainder tricks. The tests hold the library's
// fast coder against it, and the vector generator writes its output.
#pragma once

#include <cstdint>
#include <vector>

namespace zelk::testing {

struct ImaReference {
  static constexpr int kIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
  static constexpr int kStep[89] = {
      7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
      25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
      88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
      307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
      1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
      3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
      12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

  int predictor = 0;
  int stepIndex = 0;

  void Advance(int code) {
    const int step = kStep[stepIndex];
    int diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    predictor += (code & 8) ? -diff : diff;
    if (predictor > 32767) predictor = 32767;
    if (predictor < -32768) predictor = -32768;
    stepIndex += kIndex[code];
    if (stepIndex < 0) stepIndex = 0;
    if (stepIndex > 88) stepIndex = 88;
  }

  int EncodeSample(int x) {
    const int step = kStep[stepIndex];
    int d = x - predictor;
    int code = 0;
    if (d < 0) code = 8, d = -d;
    if (d >= step) code |= 4, d -= step;
    if (d >= step >> 1) code |= 2, d -= step >> 1;
    if (d >= step >> 2) code |= 1;
    Advance(code);
    return code;
  }

  // Codes of n samples as bytes, the earlier sample in the high nibble.
  std::vector<uint8_t> Encode(const int16_t* pcm, int n) {
    std::vector<uint8_t> bytes(static_cast<size_t>((n + 1) / 2));
    for (int k = 0; k < n; ++k) {
      const int code = EncodeSample(pcm[k]);
      bytes[static_cast<size_t>(k / 2)] |= static_cast<uint8_t>(k % 2 ? code : code << 4);
    }
    return bytes;
  }

  std::vector<int16_t> Decode(const uint8_t* bytes, int n) {
    std::vector<int16_t> pcm(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
      Advance(k % 2 ? bytes[k / 2] & 15 : bytes[k / 2] >> 4);
      pcm[static_cast<size_t>(k)] = static_cast<int16_t>(predictor);
    }
    return pcm;
  }
};

}  // namespace zelk::testing
