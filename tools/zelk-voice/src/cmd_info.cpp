// info: what a .zvf stream holds, after checking every frame.
#include <fmt/format.h>

#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "files.h"
#include "zvf.h"

namespace zv {

int RunInfo(const InfoOptions& o, bool quiet) {
  const std::vector<uint8_t> bytes = ReadFileBytes(o.input);
  const ZvfStream s = ParseZvf(bytes, o.input);
  // The structural checks passed; the library gets the last word on every frame.
  DecodeFrames(*s.codec, s.header.samplesPerFrame, s.frames,
               static_cast<size_t>(s.header.totalSamples), o.input, ZVF_HEADER_BYTES);
  if (quiet) return 0;
  const double seconds = static_cast<double>(s.header.totalSamples) / s.header.sampleRate;
  const double frameSeconds = static_cast<double>(s.header.samplesPerFrame) / s.header.sampleRate;
  fmt::print("file:              {}\n", o.input);
  fmt::print("format version:    {}\n", s.header.version);
  fmt::print("codec:             {} ({})\n", s.header.codecType, s.codec->label);
  fmt::print("samples per frame: {} ({:g} ms)\n", s.header.samplesPerFrame, frameSeconds * 1000);
  fmt::print("sample rate:       {} Hz\n", s.header.sampleRate);
  fmt::print("total samples:     {}\n", s.header.totalSamples);
  fmt::print("frames:            {} of {} bytes\n", s.frameCount, s.frameBytes);
  fmt::print("duration:          {:.3f} s\n", seconds);
  fmt::print("bit rate:          {:.1f} kbit/s frames, {:.1f} kbit/s whole file\n",
             8.0 * static_cast<double>(s.frameBytes) / frameSeconds / 1000,
             8.0 * static_cast<double>(bytes.size()) / seconds / 1000);
  fmt::print("check:             all {} frames valid\n", s.frameCount);
  return 0;
}

}  // namespace zv
