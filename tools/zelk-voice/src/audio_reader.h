// Audio in: any input libsndfile reads (a file or standard input), read block
// by block, mixed to mono or cut down to one channel, converted to the rate
// the coder wants and rounded to 16 bits. Memory stays a few blocks whatever
// the length. Encoding, the reading side of roundtrip, and anything else that
// codes real audio start here.
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
#include "resample.h"
#include "sndfile_handle.h"

namespace zv {

// How to read a headerless file of signed 16-bit little-endian PCM; rate 0 means
// the input has a header that libsndfile understands.
struct RawInput {
  int rate = 0;
  int channels = 1;
};

struct ReadRequest {
  int rate = SAMPLE_RATE;    // the rate delivered
  int channel = 0;           // 0: the mix of all channels (their average); N: channel N alone
  bool allChannels = false;  // every channel, interleaved, instead of one
  RawInput raw;
};

class AudioReader {
 public:
  // Opens `path` ("-": standard input) and checks it; a file named .al or .ul
  // is headerless A-law or mu-law at 8 kHz. Throws Failure "NAME: ..." when it
  // cannot be read, when the channel asked for does not exist, or when its
  // length, known in advance, gives no sample at the target rate.
  AudioReader(const std::string& path, const ReadRequest& request);
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  const std::string& Name() const { return in_.Name(); }
  int Channels() const { return outChannels_; }  // samples per delivered frame
  int SourceChannels() const { return info_.channels; }
  int SourceRate() const { return info_.samplerate; }
  int Rate() const { return request_.rate; }
  bool Resampling() const { return converter_->Resampling(); }

  // Frames that Read will deliver in all, when the input says so in advance.
  std::optional<uint64_t> Frames() const { return frames_; }

  // Fills `out` with whole frames (out.size() / Channels() of them) and
  // returns how many; fewer only at the end, 0 once everything is delivered.
  // Decoding errors and an input shorter than its header promised throw
  // Failure "NAME: ..." with the position.
  size_t Read(std::span<int16_t> out);

  // How far into the input reading has got, 0..1 (0 when it cannot tell).
  double Fraction() const;

  const ClipStats& Stats() const { return converter_->Stats(); }
  // Why samples could be clipped: "resampling from 44100 Hz", ...
  std::string ClipCause() const;
  // Size fields of the input that disagree with the file while its audio is whole.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  bool Refill();
  void FinishInput();
  std::string At(uint64_t frame) const;

  ReadRequest request_;
  InputStream in_;
  SF_INFO info_{};
  SndfileHandle sf_;
  std::optional<uint64_t> declaredFrames_;  // source frames the input promises
  std::optional<uint64_t> frames_;          // exact, for a header written up front
  int outChannels_ = 1;
  std::unique_ptr<RateConverter> converter_;
  std::vector<double> block_;
  std::vector<double> picked_;
  std::vector<int16_t> pending_;
  size_t pendingUsed_ = 0;
  uint64_t framesRead_ = 0;
  uint64_t framesDelivered_ = 0;
  bool ended_ = false;
  std::vector<std::string> warnings_;
};

// The libsndfile container (SF_FORMAT_WAV, ...) for a file extension or type
// name, or 0 when libsndfile knows none.
int MajorFormatForExtension(const std::string& extension);

}  // namespace zv
