// Writes the two-bit ADPCM reference vectors (see adpcm2_vectors.h) with the
// independent reference coder; the library takes no part:
//
//   adpcm2_vector_gen tests/data/adpcm2_vectors.bin
//
// It prints how often the cases reach the corners of the arithmetic.
#include <cstdio>
#include <cstring>
#include <vector>

#include "adpcm2_independent_reference.h"
#include "adpcm2_vectors.h"

using namespace zelk::testing;
using vectors::Case;
using vectors::Generator;

namespace {

// Codes and digests of one case by the reference: encoder and decoder from
// the same start, the decoder fed the encoder's codes.
void Code(Case& c, adpcm2_ref::Counts& counts) {
  const std::vector<int16_t> pcm = vectors::Generate(c.generator, c.seed, c.samples);
  alignas(4) unsigned char enc[52] = {}, dec[52] = {};
  if (c.start == 0) {
    adpcm2_ref::ToBlock(adpcm2_ref::ResetRecord(), enc);
  } else {
    int32_t fields[24];
    vectors::StartFields(c.start, c.seed, fields);
    vectors::WriteFields(fields, enc);
  }
  std::memcpy(dec, enc, sizeof dec);
  adpcm2_ref::Record e = adpcm2_ref::FromBlock(enc), d = adpcm2_ref::FromBlock(dec);
  size_t pos = 0;
  for (int n : vectors::FrameSizes(c)) {
    std::vector<int16_t> out(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k, ++pos) {
      adpcm2_ref::Events ev;
      const int code = adpcm2_ref::EncodeSample(e, pcm[pos], &ev).code;
      counts.Add(ev);
      c.codes.push_back(static_cast<uint8_t>(code));
      out[static_cast<size_t>(k)] = adpcm2_ref::DecodeSample(d, code);
    }
    adpcm2_ref::ToBlock(e, enc);
    adpcm2_ref::ToBlock(d, dec);
    vectors::Digest digest;
    digest.Samples(out.data(), out.size());
    digest.Record(enc);
    digest.Record(dec);
    c.digests.push_back(digest.h);
  }
}

Case Describe(const char* name, Generator g, uint32_t seed, uint32_t samples, uint8_t start,
              std::vector<uint8_t> pattern) {
  return Case{name, g, seed, samples, start, std::move(pattern), {}, {}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  std::vector<Case> cases = {
      Describe("speech-like", Generator::kSpeechLike, 1, 24000, 0, {2, 1, 3, 6, 4, 5}),
      Describe("speech-like, loud and clipped", Generator::kLoudSpeechLike, 2, 12000, 0, {6, 2}),
      Describe("noise", Generator::kNoise, 3, 8000, 0, {1}),
      Describe("noise stepping through the octaves", Generator::kSteppedNoise, 4, 16000, 0, {2, 4}),
      Describe("squares", Generator::kSquares, 5, 16000, 0, {3}),
      Describe("clipped triangles", Generator::kClippedTriangles, 6, 12000, 0, {6, 1}),
      Describe("constants", Generator::kConstants, 7, 12000, 0, {2, 3, 1}),
      Describe("-32768 and 32767", Generator::kExtremes, 8, 8000, 0, {1, 6}),
      Describe("tones", Generator::kTones, 9, 12000, 0, {4}),
      Describe("silence and bursts", Generator::kBursts, 10, 8000, 0, {5, 1}),
      Describe("noise from a never-reset record", Generator::kNoise, 11, 2400, 1, {1, 2}),
      Describe("speech-like from a never-reset record", Generator::kSpeechLike, 12, 2400, 1, {3}),
      Describe("squares from a never-reset record", Generator::kSquares, 13, 2400, 1, {6}),
      Describe("extremes from a record in range", Generator::kExtremes, 14, 2400, 2, {2, 1}),
      Describe("speech-like from a record in range", Generator::kSpeechLike, 15, 2400, 2, {5}),
      Describe("noise with zero coefficients at 32767", Generator::kNoise, 16, 800, 3, {1}),
      Describe("tones with zero coefficients at 32767", Generator::kTones, 17, 800, 3, {2}),
  };
  adpcm2_ref::Counts counts;
  for (Case& c : cases) {
    adpcm2_ref::Counts own;
    Code(c, own);
    std::printf(
        "%-40s %6ld samples: %3ld transitions, wraps: %5ld estimate %5ld difference %5ld "
        "reconstruction %3ld partial %2ld zero coefficient\n",
        c.name.c_str(), own.samples, own.transitions, own.estimateWraps, own.differenceWraps,
        own.reconstructionWraps, own.partialWraps, own.zeroCoefficientWraps);
    counts.samples += own.samples, counts.transitions += own.transitions;
    counts.estimateWraps += own.estimateWraps, counts.differenceWraps += own.differenceWraps;
    counts.reconstructionWraps += own.reconstructionWraps;
    counts.partialWraps += own.partialWraps;
    counts.zeroCoefficientWraps += own.zeroCoefficientWraps;
    counts.smallestMagnitudes += own.smallestMagnitudes;
  }
  const std::vector<uint8_t> bytes = vectors::Serialize(cases);
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%zu cases, %ld samples, %zu bytes\n", cases.size(), counts.samples, bytes.size());
  std::printf(
      "transitions %ld, estimates wrapped %ld, differences wrapped %ld, reconstructions wrapped "
      "%ld, partial signals wrapped %ld, zero coefficients wrapped %ld, magnitudes 0x8000 %ld\n",
      counts.transitions, counts.estimateWraps, counts.differenceWraps, counts.reconstructionWraps,
      counts.partialWraps, counts.zeroCoefficientWraps, counts.smallestMagnitudes);
  return 0;
}
