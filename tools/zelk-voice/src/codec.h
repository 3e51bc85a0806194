// The four codecs as the tool names them, and frame-by-frame encoding and
// decoding through the library's frame API.
#pragma once

#include <zelk_voice_engine.h>

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

// Names and aliases: mulaw and pcmu for ulaw, pcma for alaw, dvi for ima.
const Codec* FindCodec(std::string_view name);  // nullptr when unknown
const Codec* FindCodecType(int type);           // nullptr when not 1..4
std::vector<std::string> CodecNames();
std::string CodecNameList();  // "alaw, ulaw, ima, adpcm2 (also mulaw, pcmu, pcma, dvi)"
bool IsG711(const Codec& codec);
uint32_t LibraryVersion();

// "status 0x...", for messages about a refused call.
std::string StatusText(uint32_t status);
// Resets `state` for `codec` with ZELK_VOICE_EncReset or ZELK_VOICE_DecReset;
// a refusal throws a Failure.
void ResetOrThrow(uint32_t (*reset)(void*, int32_t), VoiceCodecState& state, const Codec& codec);

// The two-bit codec keeps its reconstruction (prediction plus quantised
// difference) in 16 bits without saturating, so a signal close to full scale
// can overshoot and come out with the opposite sign. On recorded speech this
// first happens at peaks of -0.6 dBFS (bench/adpcm2_headroom.sh); inputs that
// peak at -1 dBFS (29205) or above get a warning. Pure tones near 3.4 kHz wrap
// from about -7 dBFS.
inline constexpr int ADPCM2_WRAP_WARNING_PEAK = 29205;

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

// One encoder stream from its reset: each call codes one frame.
class FrameEncoder {
 public:
  FrameEncoder(const Codec& codec, int samplesPerFrame);
  // Codes `samples` (at most samplesPerFrame; the rest of the frame is zero
  // samples) into FrameBytes() little-endian bytes.
  std::span<const uint8_t> Encode(std::span<const int16_t> samples);
  size_t FrameBytes() const { return bytes_.size(); }

 private:
  const Codec& codec_;
  int samplesPerFrame_;
  uint64_t frames_ = 0;
  VoiceCodecState state_{};
  std::vector<uint8_t> bytes_;
};

// One decoder stream from its reset.
class FrameDecoder {
 public:
  explicit FrameDecoder(const Codec& codec);
  // Decodes a frame of little-endian bytes into `out` (room for 480 samples)
  // and returns the sample count; the library's refusal throws a Failure
  // "`where`: library refused the frame (status ...)".
  size_t Decode(std::span<const uint8_t> frame, std::span<int16_t> out, const std::string& where);

 private:
  const Codec& codec_;
  VoiceCodecState state_{};
};

// G.711 frames carry each pair of codes with the earlier one in the high byte of
// a little-endian word; a byte-per-sample file holds them in plain sample order.
void G711CodesFromFrame(std::span<const uint8_t> frame, std::span<uint8_t> codes);
// A frame of `samplesPerFrame` codes from `codes` (fewer: padded with code 0).
void G711FrameFromCodes(std::span<const uint8_t> codes, int samplesPerFrame,
                        std::span<uint8_t> frame);

// Decodes frames that a reader has validated from a reset decoder and keeps
// the first totalSamples samples. A frame the library refuses throws a Failure
// naming its index and byte offset in `frames`, shifted by `offsetBase` so the
// message points into the file it came from.
std::vector<int16_t> DecodeFrames(const Codec& codec, int samplesPerFrame,
                                  std::span<const uint8_t> frames, size_t totalSamples,
                                  const std::string& fileName, size_t offsetBase);

}  // namespace zv

namespace zv {

// The library's own speed on `samples`, frame by frame, a second of frames at
// a time through small buffers: seconds per sample for encoding and for
// decoding, 0 when `samples` holds less than one frame.
struct CodecSpeed {
  double encodeSecondsPerSample = 0;
  double decodeSecondsPerSample = 0;
};
CodecSpeed MeasureCodecSpeed(const Codec& codec, int samplesPerFrame,
                             std::span<const int16_t> samples, double minSeconds);

}  // namespace zv
