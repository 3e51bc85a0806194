// info: what a .zvf stream holds, after checking every frame.
#include <fmt/format.h>

#include <array>

#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "input_stream.h"
#include "zvf.h"

namespace zv {

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += fmt::format("\\u{:04x}", u);
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace

int RunInfo(const InfoOptions& o, bool quiet) {
  InputStream in(o.input);
  ZvfReader reader([&](std::span<uint8_t> dst) { return in.Read(dst); }, in.Name());
  const ZvfHeader& h = reader.Header();
  const Codec& codec = reader.StreamCodec();
  // The structural checks come with each frame; the library gets the last word on it.
  FrameDecoder decoder(codec);
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> pcm{};
  for (std::span<const uint8_t> frame; !(frame = reader.Next()).empty();) {
    decoder.Decode(frame, pcm,
                   fmt::format("{}: frame {} at byte {}", in.Name(), reader.FramesRead() - 1,
                               reader.BytesRead() - reader.FrameBytes()));
  }
  if (quiet && !o.json) return 0;
  const double seconds = static_cast<double>(h.totalSamples) / h.sampleRate;
  const double frameSeconds = static_cast<double>(h.samplesPerFrame) / h.sampleRate;
  const double frameKbit = 8.0 * static_cast<double>(reader.FrameBytes()) / frameSeconds / 1000;
  const double fileKbit = 8.0 * static_cast<double>(reader.BytesRead()) / seconds / 1000;
  if (o.json) {
    fmt::print(
        "{{\"file\": {}, \"format_version\": {}, \"codec_type\": {}, \"codec\": \"{}\", "
        "\"codec_label\": {}, \"samples_per_frame\": {}, \"frame_ms\": {:g}, \"sample_rate\": {}, "
        "\"total_samples\": {}, \"frames\": {}, \"frame_bytes\": {}, \"file_bytes\": {}, "
        "\"duration_s\": {:.6f}, \"frame_kbit_per_s\": {:.3f}, \"file_kbit_per_s\": {:.3f}, "
        "\"valid\": true}}\n",
        JsonString(in.Name()), h.version, h.codecType, codec.name, JsonString(codec.label),
        h.samplesPerFrame, frameSeconds * 1000, h.sampleRate, h.totalSamples, reader.FrameCount(),
        reader.FrameBytes(), reader.BytesRead(), seconds, frameKbit, fileKbit);
    return 0;
  }
  fmt::print("file:              {}\n", in.Name());
  fmt::print("format version:    {}\n", h.version);
  fmt::print("codec:             {} ({})\n", h.codecType, codec.label);
  fmt::print("samples per frame: {} ({:g} ms)\n", h.samplesPerFrame, frameSeconds * 1000);
  fmt::print("sample rate:       {} Hz\n", h.sampleRate);
  fmt::print("total samples:     {}\n", h.totalSamples);
  fmt::print("frames:            {} of {} bytes\n", reader.FrameCount(), reader.FrameBytes());
  fmt::print("duration:          {:.3f} s\n", seconds);
  fmt::print("bit rate:          {:.1f} kbit/s frames, {:.1f} kbit/s whole file\n", frameKbit,
             fileKbit);
  fmt::print("check:             all {} frames valid\n", reader.FrameCount());
  return 0;
}

}  // namespace zv
