// Feeds arbitrary bytes to the command-line tool's .zvf reader.
//
// The reader must refuse a bad stream only with its own one-line failure,
// naming the file, and never with any other exception or a crash. A stream it
// accepts must keep every promise the reader makes: a valid header, whole
// frames filling the file exactly, enough frames for the sample count, and
// frames that the library then decodes without refusing a single one.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec.h"
#include "failure.h"
#include "fuzz_support.h"
#include "zvf.h"

namespace {

const std::string FILE_NAME = "fuzz.zvf";

bool NamesTheFile(const zv::Failure& f) {
  return std::string(f.what()).rfind(FILE_NAME + ": ", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  zv::ZvfStream s;
  try {
    s = zv::ParseZvf(bytes, FILE_NAME);
  } catch (const zv::Failure& f) {
    FUZZ_CHECK(NamesTheFile(f));
    return 0;
  }

  const zv::ZvfHeader& h = s.header;
  FUZZ_CHECK(s.codec != nullptr && s.codec->type == h.codecType);
  FUZZ_CHECK(zv::ValidSamplesPerFrame(h.samplesPerFrame));
  FUZZ_CHECK(h.totalSamples > 0);
  FUZZ_CHECK(s.frameBytes == static_cast<size_t>(zv::FrameBytes(*s.codec, h.samplesPerFrame)));
  FUZZ_CHECK(s.frames.size() == s.frameCount * s.frameBytes);
  FUZZ_CHECK(zv::ZVF_HEADER_BYTES + s.frames.size() == size);
  FUZZ_CHECK(s.frames.data() == data + zv::ZVF_HEADER_BYTES);
  const uint64_t spf = h.samplesPerFrame;
  FUZZ_CHECK((s.frameCount - 1) * spf < h.totalSamples && h.totalSamples <= s.frameCount * spf);

  std::vector<int16_t> pcm;
  try {
    pcm = zv::DecodeFrames(*s.codec, h.samplesPerFrame, s.frames, h.totalSamples, FILE_NAME,
                           zv::ZVF_HEADER_BYTES);
  } catch (const zv::Failure& f) {
    std::fprintf(stderr, "accepted stream refused by the library: %s\n", f.what());
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(pcm.size() == h.totalSamples);
  return 0;
}
