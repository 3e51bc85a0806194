// Audio files through libsndfile and rate conversion through libsoxr.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec.h"

namespace zv {

// How to read a headerless file of signed 16-bit little-endian PCM; rate 0 means
// the input has a header that libsndfile understands.
struct RawInput {
  int rate = 0;
  int channels = 1;
};

// Reads any file libsndfile reads, mixes its channels to mono by averaging and
// converts it to `rate` Hz with libsoxr at high quality. A 16-bit mono file at
// `rate` comes back sample for sample. Throws Failure "FILE: ..." on any fault,
// an empty file included. Reading reports progress up to 0.25 on `progress`.
std::vector<int16_t> ReadMonoPcm(const std::string& path, int rate, const RawInput& raw = {},
                                 ProgressSink progress = {});

// Converts rates with libsoxr at high quality.
std::vector<double> Resample(std::span<const double> in, double fromRate, double toRate);

// The libsndfile container (SF_FORMAT_WAV, ...) for an output name's extension,
// or 0 when libsndfile knows no such extension.
int MajorFormatForPath(const std::string& path);

// Writes mono PCM in the container `majorFormat` (16-bit where it has that),
// never leaving a partial file.
void WritePcm(const std::string& path, std::span<const int16_t> samples, int rate, int majorFormat);

// A mono A-law or mu-law file as the codes it holds, one byte per sample.
struct G711File {
  int codecType = 0;  // 1 A-law, 2 mu-law
  int rate = 0;
  std::vector<uint8_t> codes;
};

// Throws Failure when the file is not a mono A-law/mu-law file.
G711File ReadG711File(const std::string& path);

// Writes the codes untouched into a WAV of format tag 6 (A-law) or 7 (mu-law).
void WriteG711Wav(const std::string& path, int codecType, std::span<const uint8_t> codes, int rate);

}  // namespace zv
