// Writes the IMA ADPCM vectors that ima_adpcm_test replays, with the plain
// coder of ima_adpcm_reference.h:
//   ima_adpcm_pcm.raw      PCM in, 16-bit little-endian
//   ima_adpcm_frames.bin   the encoder's frames, back to back
//   ima_adpcm_decoded.raw  a decoder's PCM out from those frames
// Both coders start from a cleared state. Usage: make_ima_vectors <directory>
#include <cstdio>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "ima_adpcm_reference.h"
#include "test_signals.h"

namespace {

using zelk::testing::MakeSignal;
using zelk::testing::Signal;

// Every frame size, and several frames of 80 so that short frames follow each other.
constexpr int kFrameSizes[] = {80, 160, 80, 240, 80, 320, 80, 160, 80, 400, 80, 160};

void AppendSamples(std::vector<unsigned char>& out, const std::vector<int16_t>& pcm) {
  for (int16_t s : pcm) {
    out.push_back(static_cast<unsigned char>(s & 0xFF));
    out.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
  }
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  std::vector<int16_t> pcm;
  for (auto [kind, n, seed] : {std::tuple{Signal::kSpeechLike, 800, 5u},
                               {Signal::kNoise, 320, 6u},
                               {Signal::kClipping, 400, 7u},
                               {Signal::kSquareFullScale, 400, 8u}}) {
    const auto part = MakeSignal(kind, static_cast<size_t>(n), seed);
    pcm.insert(pcm.end(), part.begin(), part.end());
  }

  zelk::testing::ImaReference encoder, decoder;
  std::vector<unsigned char> frames, decoded, input;
  size_t pos = 0;
  for (int n : kFrameSizes) {
    const auto bytes = encoder.Encode(pcm.data() + pos, n);
    frames.insert(frames.end(), {0x00, 0x01, static_cast<unsigned char>(n / 4), 0x00});
    frames.insert(frames.end(), bytes.begin(), bytes.end());
    AppendSamples(decoded, decoder.Decode(bytes.data(), n));
    pos += static_cast<size_t>(n);
  }
  pcm.resize(pos);
  AppendSamples(input, pcm);

  const std::string dir = argv[1];
  if (!WriteFile(dir + "/ima_adpcm_pcm.raw", input) ||
      !WriteFile(dir + "/ima_adpcm_frames.bin", frames) ||
      !WriteFile(dir + "/ima_adpcm_decoded.raw", decoded)) {
    std::fprintf(stderr, "cannot write the vectors to %s\n", dir.c_str());
    return 1;
  }
  std::printf("%zu samples in %zu frames\n", pos, std::size(kFrameSizes));
  return 0;
}
