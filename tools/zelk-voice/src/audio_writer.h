// Audio out, written as it comes through an OutputFile (a temporary name
// renamed when complete, or standard output), every write checked.
//
// PcmWriter writes 16-bit PCM: WAV, AU and headerless raw itself (also to
// standard output), every other format libsndfile writes through libsndfile
// (to files). CodeWriter writes what an encoder makes: a .zvf stream, or
// G.711 codes as a WAV, an AU or headerless .al/.ul.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec.h"
#include "output_file.h"

namespace zv {

enum class Container { kZvf, kWav, kAu, kRaw, kSndfile };

struct OutputFormat {
  Container container = Container::kWav;
  int sndfileMajor = 0;   // for kSndfile
  std::string extension;  // for naming outputs in a directory
};

// A PCM output's format from a type name or extension ("wav", "flac", ...);
// for standard output only wav, au and raw. Throws a usage Failure naming
// `what` when there is no such format.
OutputFormat PcmFormatFor(const std::string& type, bool toStdout, const std::string& what);

// An encoder's output format from a type name or extension: zvf, wav, au,
// alaw/al or ulaw/ul. WAV, AU and the headerless forms hold G.711 codes, so
// they need that codec (the headerless form its own law). Throws a usage Failure.
OutputFormat CodeFormatFor(const std::string& type, const Codec& codec, const std::string& what);

class PcmWriter {
 public:
  // `frames`: the length when known in advance, which a header on standard
  // output needs (without it the header says "until the end").
  PcmWriter(const std::string& path, const OutputFormat& format, int rate, int channels,
            std::optional<uint64_t> frames);
  ~PcmWriter();
  PcmWriter(const PcmWriter&) = delete;
  PcmWriter& operator=(const PcmWriter&) = delete;

  const std::string& Name() const { return out_.Path(); }
  void Write(std::span<const int16_t> interleaved);
  void Finish();  // completes the header, closes and commits; throws Failure

 private:
  std::vector<uint8_t> Header(std::optional<uint64_t> frames) const;

  OutputFile out_;
  OutputFormat format_;
  int rate_, channels_;
  std::optional<uint64_t> promised_;
  uint64_t frames_ = 0;
  SNDFILE* sf_ = nullptr;
  SF_VIRTUAL_IO io_{};
  int ioError_ = 0;  // the first write error libsndfile met
  std::vector<uint8_t> bytes_;
};

class CodeWriter {
 public:
  CodeWriter(const std::string& path, const OutputFormat& format, const Codec& codec,
             int samplesPerFrame, std::optional<uint64_t> samples);

  const std::string& Name() const { return out_.Path(); }
  // One frame from the encoder, of which `samples` are signal (the rest of a
  // last frame is padding, which only a .zvf stream keeps).
  void WriteFrame(std::span<const uint8_t> frame, size_t samples);
  void Finish();
  uint64_t Bytes() const { return out_.Size(); }

 private:
  std::vector<uint8_t> Header(std::optional<uint64_t> samples) const;

  OutputFile out_;
  OutputFormat format_;
  const Codec& codec_;
  int samplesPerFrame_;
  std::optional<uint64_t> promised_;
  uint64_t samples_ = 0;
  std::vector<uint8_t> codes_;
};

}  // namespace zv
