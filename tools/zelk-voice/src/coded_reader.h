// Coded audio in: a .zvf stream, an A-law or mu-law file (WAV, AU or any
// container libsndfile reads), or headerless A-law/mu-law codes, from a file or
// standard input, decoded by the library block by block. Memory stays a few
// frames whatever the length.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec.h"
#include "input_stream.h"
#include "sndfile_handle.h"
#include "zvf.h"

namespace zv {

class CodedReader {
 public:
  // Opens `path` ("-": standard input). `headerless` names a codec (alaw or
  // ulaw) for input without a header; otherwise a name ending in .al or .ul
  // is headerless, a stream is recognised by its magic (or a .zvf name), and
  // anything else must be a mono A-law or mu-law file. Throws Failure.
  CodedReader(const std::string& path, const Codec* headerless);
  CodedReader(const CodedReader&) = delete;
  CodedReader& operator=(const CodedReader&) = delete;

  const std::string& Name() const { return in_.Name(); }
  const Codec& StreamCodec() const { return *codec_; }
  int Rate() const { return rate_; }
  std::optional<uint64_t> Samples() const { return samples_; }  // known in advance

  // Decodes into `out` (room for at least 480 samples) and returns the count;
  // 0 at the end. Every fault throws Failure "NAME: ..." with its position.
  size_t Read(std::span<int16_t> out);

  double Fraction() const;  // how far into the input, 0..1
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  enum class Kind { kStream, kContainer, kHeaderless };
  void OpenContainer();
  size_t ReadStream(std::span<int16_t> out);
  size_t ReadCodes(std::span<int16_t> out);

  InputStream in_;
  Kind kind_ = Kind::kStream;
  const Codec* codec_ = nullptr;
  int rate_ = SAMPLE_RATE;
  std::optional<uint64_t> samples_;
  std::unique_ptr<ZvfReader> zvf_;
  SndfileHandle sf_;
  SF_INFO info_{};
  std::unique_ptr<FrameDecoder> decoder_;
  uint64_t samplesRead_ = 0;  // codes or stream samples so far
  std::vector<std::string> warnings_;
};

}  // namespace zv
