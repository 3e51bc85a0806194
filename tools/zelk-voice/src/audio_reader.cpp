#include "audio_reader.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "containers.h"
#include "failure.h"
#include "files.h"

namespace zv {

namespace {

constexpr sf_count_t BLOCK_FRAMES = 4096;

// A pipe cannot tell a length it was never given: WAV and AU writers that
// cannot seek back put placeholders of 2 GiB or more into the header.
constexpr uint64_t PIPE_PLACEHOLDER_BYTES = 0x7FFF0000;

// Bytes one sample takes in the file, for the subtypes where that is fixed.
int BytesPerSample(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_ULAW:
      return 1;
    case SF_FORMAT_PCM_16:
      return 2;
    case SF_FORMAT_PCM_24:
      return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 4;
    case SF_FORMAT_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int MajorFormatForExtension(const std::string& extension) {
  std::string ext = Lower(extension);
  static const std::pair<const char*, const char*> ALIASES[] = {
      {"aif", "aiff"}, {"ogg", "oga"}, {"mp3", "m1a"}, {"snd", "au"}, {"wave", "wav"}};
  for (const auto& [alias, name] : ALIASES) {
    if (ext == alias) ext = name;
  }
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO fi{};
    fi.format = i;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &fi, sizeof fi);
    if (fi.extension != nullptr && ext == fi.extension) return fi.format;
  }
  return 0;
}

AudioReader::AudioReader(const std::string& path, const ReadRequest& request)
    : request_(request), in_(path) {
  const std::string ext = ExtensionOf(path);
  if (request.raw.rate > 0) {
    info_.samplerate = request.raw.rate;
    info_.channels = request.raw.channels;
    info_.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
  } else if (ext == "al" || ext == "ul") {
    info_.samplerate = SAMPLE_RATE;
    info_.channels = 1;
    info_.format = SF_FORMAT_RAW | (ext == "al" ? SF_FORMAT_ALAW : SF_FORMAT_ULAW);
  }
  const bool raw = info_.format != 0;
  sf_ = OpenSndfileForReading(in_.DescriptorFromStart(), info_);
  if (sf_ == nullptr) {
    in_.CheckFeed();
    throw Failure(fmt::format("{}: not an audio file libsndfile can read ({})", Name(),
                              sf_strerror(nullptr)));
  }
  if (info_.channels < 1) throw Failure(fmt::format("{}: has no audio channels", Name()));
  if (info_.samplerate <= 0) {
    throw Failure(fmt::format("{}: bad sample rate {}", Name(), info_.samplerate));
  }
  if (request.channel > info_.channels) {
    throw Failure(fmt::format("{}: has {} channel{}; there is no channel {}", Name(),
                              info_.channels, info_.channels == 1 ? "" : "s", request.channel));
  }

  const uint64_t frameBytes =
      static_cast<uint64_t>(BytesPerSample(info_.format)) * static_cast<uint64_t>(info_.channels);
  if (in_.IsRegular()) {
    warnings_ = CheckContainer(in_.Fd(), *in_.Size(), info_.format & SF_FORMAT_TYPEMASK, Name());
    if (raw && frameBytes > 0 && *in_.Size() % frameBytes != 0) {
      throw Failure(fmt::format("{}: truncated: {} bytes after the last whole frame of {} bytes",
                                Name(), *in_.Size() % frameBytes, frameBytes));
    }
    if (info_.frames == 0) throw Failure(fmt::format("{}: contains no audio samples", Name()));
    if (info_.frames > 0 && info_.frames != SF_COUNT_MAX) {
      declaredFrames_ = static_cast<uint64_t>(info_.frames);
    }
  } else if (!raw && frameBytes > 0 && info_.frames > 0 &&
             static_cast<uint64_t>(info_.frames) * frameBytes < PIPE_PLACEHOLDER_BYTES) {
    declaredFrames_ = static_cast<uint64_t>(info_.frames);
  }
  // An MP3's frame count is the decoder's estimate: good for noticing a cut
  // file, not for promising the length in a header.
  if (declaredFrames_ && (info_.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG) {
    frames_ = ConvertedFrames(*declaredFrames_, info_.samplerate, request.rate);
    if (*frames_ == 0) {
      throw Failure(TooShort(Name(), *declaredFrames_, info_.samplerate, request.rate));
    }
  }

  outChannels_ = request.allChannels ? info_.channels : 1;
  converter_ = std::make_unique<RateConverter>(info_.samplerate, request.rate, outChannels_);
  block_.resize(static_cast<size_t>(BLOCK_FRAMES) * static_cast<size_t>(info_.channels));
}

std::string AudioReader::At(uint64_t frame) const {
  return fmt::format("sample {} ({:.2f} s)", frame, static_cast<double>(frame) / info_.samplerate);
}

void AudioReader::FinishInput() {
  in_.CheckFeed();
  if (sf_error(sf_.get()) != SF_ERR_NO_ERROR) {
    throw Failure(fmt::format("{}: decoding failed after {}: {}", Name(), At(framesRead_),
                              sf_strerror(sf_.get())));
  }
  if (framesRead_ == 0) throw Failure(fmt::format("{}: contains no audio samples", Name()));
  if (declaredFrames_ && framesRead_ < *declaredFrames_) {
    throw Failure(fmt::format(
        "{}: truncated or damaged: the audio stops after {} of the {} samples it declares "
        "({:.2f} of {:.2f} s)",
        Name(), framesRead_, *declaredFrames_, static_cast<double>(framesRead_) / info_.samplerate,
        static_cast<double>(*declaredFrames_) / info_.samplerate));
  }
  converter_->Finish(pending_);
  if (framesDelivered_ + pending_.size() / static_cast<size_t>(outChannels_) == 0) {
    throw Failure(TooShort(Name(), framesRead_, info_.samplerate, request_.rate));
  }
}

bool AudioReader::Refill() {
  pending_.clear();
  pendingUsed_ = 0;
  const sf_count_t got = sf_readf_double(sf_.get(), block_.data(), BLOCK_FRAMES);
  if (got <= 0) {
    FinishInput();
    ended_ = true;
    return !pending_.empty();
  }
  framesRead_ += static_cast<uint64_t>(got);
  const auto frames = static_cast<size_t>(got);
  const auto channels = static_cast<size_t>(info_.channels);
  if (request_.allChannels || channels == 1) {
    converter_->Push({block_.data(), frames * channels}, pending_);
    return true;
  }
  picked_.resize(frames);
  if (request_.channel > 0) {
    const auto c = static_cast<size_t>(request_.channel - 1);
    for (size_t i = 0; i < frames; ++i) picked_[i] = block_[i * channels + c];
  } else {
    for (size_t i = 0; i < frames; ++i) {
      double sum = 0;
      for (size_t c = 0; c < channels; ++c) sum += block_[i * channels + c];
      picked_[i] = sum / static_cast<double>(channels);
    }
  }
  converter_->Push(picked_, pending_);
  return true;
}

size_t AudioReader::Read(std::span<int16_t> out) {
  const auto channels = static_cast<size_t>(outChannels_);
  const size_t want = out.size() / channels;
  size_t done = 0;
  while (done < want) {
    if (pendingUsed_ == pending_.size()) {
      if (ended_ || !Refill()) break;
      continue;
    }
    const size_t n = std::min(want - done, (pending_.size() - pendingUsed_) / channels);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingUsed_), n * channels,
                out.begin() + static_cast<std::ptrdiff_t>(done * channels));
    pendingUsed_ += n * channels;
    done += n;
    framesDelivered_ += n;
  }
  return done;
}

double AudioReader::Fraction() const {
  if (declaredFrames_) {
    return static_cast<double>(framesRead_) / static_cast<double>(*declaredFrames_);
  }
  if (in_.IsRegular()) {
    const off_t at = lseek(in_.Fd(), 0, SEEK_CUR);
    if (at > 0) return static_cast<double>(at) / static_cast<double>(*in_.Size());
  }
  return 0;
}

std::string AudioReader::ClipCause() const {
  const int subtype = info_.format & SF_FORMAT_SUBMASK;
  if (Resampling()) return fmt::format("resampling from {} Hz", info_.samplerate);
  if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) {
    return "converting floating-point samples";
  }
  return "rounding to 16 bits";
}

}  // namespace zv
