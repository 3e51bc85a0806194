// The four codecs as the tool names them, and whole-signal encoding and decoding
// through the library's frame API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

struct Codec {
  int type;           // the library's codec type number
  const char* name;   // command-line name
  const char* label;  // name for people
  int bitsPerCode;
};

inline constexpr Codec CODECS[] = {{1, "alaw", "G.711 A-law", 8},
                                   {2, "ulaw", "G.711 \u00b5-law", 8},
                                   {3, "ima", "IMA ADPCM", 4},
                                   {4, "adpcm2", "2-bit ADPCM", 2}};

inline constexpr int SAMPLE_RATE = 8000;
inline constexpr int FRAME_HEADER_BYTES = 4;  // header word and length word

const Codec* FindCodec(std::string_view name);  // nullptr when unknown
const Codec* FindCodecType(int type);           // nullptr when not 1..4
std::vector<std::string> CodecNames();
bool IsG711(const Codec& codec);
uint32_t LibraryVersion();

// Frame sizes the library accepts: 80..480 samples in steps of 80.
bool ValidSamplesPerFrame(long samples);
int SamplesPerFrameForMs(int ms);

// Payload words L and whole-frame bytes 4 + 2L of one frame.
int PayloadWords(const Codec& codec, int samplesPerFrame);
int FrameBytes(const Codec& codec, int samplesPerFrame);

// Called now and then with the fraction of the work done.
using ProgressFn = void (*)(void* context, double fraction);
struct ProgressSink {
  ProgressFn fn = nullptr;
  void* context = nullptr;
  void Report(double fraction) const {
    if (fn) fn(context, fraction);
  }
};

// Encodes the samples frame by frame from a reset encoder; the last frame is
// padded with zero samples. Returns the frames back to back as little-endian bytes.
std::vector<uint8_t> EncodeFrames(const Codec& codec, int samplesPerFrame,
                                  std::span<const int16_t> samples, ProgressSink progress = {});

// Decodes frames that EncodeFrames made (or that a reader has validated) from a
// reset decoder and keeps the first totalSamples samples. A frame the library
// refuses throws a Failure naming its index and byte offset in `frames`, shifted by
// `offsetBase` so the message points into the file it came from.
std::vector<int16_t> DecodeFrames(const Codec& codec, int samplesPerFrame,
                                  std::span<const uint8_t> frames, size_t totalSamples,
                                  const std::string& fileName, size_t offsetBase,
                                  ProgressSink progress = {});

// G.711 frames carry each pair of codes with the earlier one in the high byte of
// a little-endian word; a byte-per-sample file holds them in plain sample order.
std::vector<uint8_t> G711CodesFromFrames(std::span<const uint8_t> frames, int samplesPerFrame,
                                         size_t totalSamples);
std::vector<uint8_t> G711FramesFromCodes(std::span<const uint8_t> codes, int samplesPerFrame);

}  // namespace zv

namespace zv {

// The library's own speed on `samples`, frame by frame into preallocated
// buffers: seconds per sample for encoding and for decoding.
struct CodecSpeed {
  double encodeSecondsPerSample = 0;
  double decodeSecondsPerSample = 0;
};
CodecSpeed MeasureCodecSpeed(const Codec& codec, int samplesPerFrame,
                             std::span<const int16_t> samples, double minSeconds);

}  // namespace zv
