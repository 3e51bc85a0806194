#include "audio_writer.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "audio_reader.h"
#include "containers.h"
#include "failure.h"
#include "zvf.h"

namespace zv {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Mono or multichannel 16-bit audio in a libsndfile container, or the nearest
// it offers (Ogg, Opus and MP3 hold no PCM).
SF_INFO SndfileInfo(int major, int rate, int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  for (int subtype :
       {SF_FORMAT_PCM_16, SF_FORMAT_VORBIS, SF_FORMAT_OPUS, SF_FORMAT_MPEG_LAYER_III}) {
    info.format = major | subtype;
    if (sf_format_check(&info)) break;
  }
  return info;
}

PcmWriter* Self(void* user) { return static_cast<PcmWriter*>(user); }

}  // namespace

OutputFormat PcmFormatFor(const std::string& type, bool toStdout, const std::string& what) {
  const std::string t = Lower(type);
  if (t == "wav" || t == "wave") return {Container::kWav, 0, "wav"};
  if (t == "au" || t == "snd") return {Container::kAu, 0, "au"};
  if (t == "raw" || t == "pcm") return {Container::kRaw, 0, "raw"};
  const int major = MajorFormatForExtension(t);
  if (major == 0) throw UsageFailure(fmt::format("{}: no audio format for this extension", what));
  if (major == SF_FORMAT_SD2) {
    // libsndfile puts an SD2 file's header into a second file, "._NAME",
    // which cannot be written under a temporary name and renamed with it.
    throw UsageFailure(fmt::format("{}: Sound Designer II files are not offered", what));
  }
  if (toStdout) {
    throw UsageFailure(fmt::format(
        "{}: {} cannot be written to standard output as it goes; use -t wav, au or raw", what, t));
  }
  const SF_INFO info = SndfileInfo(major, SAMPLE_RATE, 1);
  if (!sf_format_check(&info)) {
    throw UsageFailure(
        fmt::format("{}: libsndfile cannot write mono 16-bit audio in this format", what));
  }
  return {Container::kSndfile, major, t};
}

OutputFormat CodeFormatFor(const std::string& type, const Codec& codec, const std::string& what) {
  const std::string t = Lower(type);
  OutputFormat f;
  if (t == "zvf") return {Container::kZvf, 0, "zvf"};
  if (t == "wav") {
    f = {Container::kWav, 0, "wav"};
  } else if (t == "au") {
    f = {Container::kAu, 0, "au"};
  } else if (t == "al" || t == "alaw" || t == "ul" || t == "ulaw") {
    const bool alaw = t[0] == 'a';
    f = {Container::kRaw, 0, alaw ? "al" : "ul"};
    if (IsG711(codec) && (codec.type == 1) != alaw) {
      throw UsageFailure(fmt::format("{}: headerless {} codes need -c {}", what,
                                     alaw ? "A-law" : "\u00b5-law", alaw ? "alaw" : "ulaw"));
    }
  } else {
    throw UsageFailure(
        fmt::format("{}: output must be .zvf, .wav, .au, .al or .ul (or a directory)", what));
  }
  if (!IsG711(codec)) {
    throw UsageFailure(fmt::format("{}: only A-law and \u00b5-law have a {} form; write a .zvf",
                                   codec.label,
                                   f.container == Container::kRaw ? "headerless"
                                   : Lower(f.extension) == "au"   ? "AU"
                                                                  : "WAV"));
  }
  return f;
}

// ---- PCM ------------------------------------------------------------------

PcmWriter::PcmWriter(const std::string& path, const OutputFormat& format, int rate, int channels,
                     std::optional<uint64_t> frames)
    : out_(path), format_(format), rate_(rate), channels_(channels), promised_(frames) {
  if (format.container != Container::kSndfile) {
    const std::vector<uint8_t> header = Header(frames);
    out_.Write(header);
    return;
  }
  // libsndfile writes through our descriptor, so that every failed write is
  // seen here: some of its encoders do not pass one on.
  io_.get_filelen = [](void* user) -> sf_count_t {
    struct stat st {};
    return fstat(Self(user)->out_.Fd(), &st) == 0 ? st.st_size : -1;
  };
  io_.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
    return lseek(Self(user)->out_.Fd(), offset, whence);
  };
  io_.read = [](void* ptr, sf_count_t count, void* user) -> sf_count_t {
    return read(Self(user)->out_.Fd(), ptr, static_cast<size_t>(count));
  };
  io_.write = [](const void* ptr, sf_count_t count, void* user) -> sf_count_t {
    PcmWriter* self = Self(user);
    const auto* bytes = static_cast<const uint8_t*>(ptr);
    sf_count_t done = 0;
    while (done < count) {
      const ssize_t w = write(self->out_.Fd(), bytes + done, static_cast<size_t>(count - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (self->ioError_ == 0) self->ioError_ = w < 0 ? errno : ENOSPC;
        break;
      }
      done += w;
    }
    return done;
  };
  io_.tell = [](void* user) -> sf_count_t { return lseek(Self(user)->out_.Fd(), 0, SEEK_CUR); };
  SF_INFO info = SndfileInfo(format.sndfileMajor, rate, channels);
  sf_ = sf_open_virtual(&io_, SFM_WRITE, &info, this);
  if (sf_ == nullptr) {
    if (ioError_ != 0) out_.FailWrite(ioError_);
    throw Failure(fmt::format("{}: cannot write: {}", Name(), sf_strerror(nullptr)));
  }
}

PcmWriter::~PcmWriter() {
  if (sf_ != nullptr) sf_close(sf_);
}

std::vector<uint8_t> PcmWriter::Header(std::optional<uint64_t> frames) const {
  switch (format_.container) {
    case Container::kWav:
      return WavHeader(WAV_PCM, channels_, rate_, 16, frames);
    case Container::kAu: {
      std::optional<uint64_t> bytes;
      if (frames) bytes = *frames * 2 * static_cast<uint64_t>(channels_);
      return AuHeader(AU_PCM16, channels_, rate_, bytes);
    }
    default:
      return {};
  }
}

void PcmWriter::Write(std::span<const int16_t> samples) {
  frames_ += samples.size() / static_cast<size_t>(channels_);
  if (sf_ != nullptr) {
    const auto n = static_cast<sf_count_t>(samples.size());
    if (sf_write_short(sf_, samples.data(), n) != n || ioError_ != 0) {
      if (ioError_ != 0) out_.FailWrite(ioError_);
      throw Failure(fmt::format("{}: write failed: {}", Name(), sf_strerror(sf_)));
    }
    return;
  }
  if (format_.container != Container::kRaw &&
      frames_ * 2 * static_cast<uint64_t>(channels_) > MAX_DATA_BYTES) {
    throw Failure(fmt::format("{}: too long for a {} file (4 GiB of audio at most)", Name(),
                              format_.container == Container::kWav ? "WAV" : "AU"));
  }
  bytes_.resize(samples.size() * 2);
  const bool bigEndian = format_.container == Container::kAu;
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<uint16_t>(samples[i]);
    bytes_[2 * i + (bigEndian ? 1 : 0)] = static_cast<uint8_t>(v & 0xFF);
    bytes_[2 * i + (bigEndian ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
  }
  out_.Write(bytes_);
}

void PcmWriter::Finish() {
  if (sf_ != nullptr) {
    const int status = sf_close(sf_);
    sf_ = nullptr;
    if (ioError_ != 0) out_.FailWrite(ioError_);
    if (status != 0) {
      throw Failure(fmt::format("{}: write failed: {}", Name(), sf_error_number(status)));
    }
  } else if (promised_ != frames_ && format_.container != Container::kRaw) {
    // Without a promise a stream's header says "until the end", which is true.
    if (!out_.CanSeek() && promised_) {
      throw Failure(fmt::format("{}: wrote {} frames where the header promised {}", Name(), frames_,
                                promised_.value_or(0)));
    }
    if (out_.CanSeek()) out_.WriteAt(0, Header(frames_));
  }
  out_.Commit();
}

// ---- codes ----------------------------------------------------------------

CodeWriter::CodeWriter(const std::string& path, const OutputFormat& format, const Codec& codec,
                       int samplesPerFrame, std::optional<uint64_t> samples)
    : out_(path, format.container == Container::kZvf && !samples),
      format_(format),
      codec_(codec),
      samplesPerFrame_(samplesPerFrame),
      promised_(samples) {
  out_.Write(Header(samples));
  codes_.resize(static_cast<size_t>(samplesPerFrame));
}

std::vector<uint8_t> CodeWriter::Header(std::optional<uint64_t> samples) const {
  switch (format_.container) {
    case Container::kZvf: {
      ZvfHeader header;
      header.codecType = static_cast<uint16_t>(codec_.type);
      header.samplesPerFrame = static_cast<uint16_t>(samplesPerFrame_);
      header.totalSamples = samples.value_or(0);  // filled in on Finish
      const auto bytes = SerializeZvfHeader(header);
      return {bytes.begin(), bytes.end()};
    }
    case Container::kWav:
      return WavHeader(codec_.type == 1 ? WAV_ALAW : WAV_MULAW, 1, SAMPLE_RATE, 8, samples);
    case Container::kAu:
      return AuHeader(codec_.type == 1 ? AU_ALAW : AU_MULAW, 1, SAMPLE_RATE, samples);
    default:
      return {};
  }
}

void CodeWriter::WriteFrame(std::span<const uint8_t> frame, size_t samples) {
  samples_ += samples;
  if (format_.container == Container::kZvf) {
    out_.Write(frame);
    return;
  }
  if (format_.container != Container::kRaw && samples_ > MAX_DATA_BYTES) {
    throw Failure(fmt::format("{}: too long for a {} file (4 GiB of codes at most)", Name(),
                              format_.container == Container::kWav ? "WAV" : "AU"));
  }
  G711CodesFromFrame(frame, std::span(codes_).first(samples));
  out_.Write(std::span(codes_).first(samples));
}

void CodeWriter::Finish() {
  const bool known = promised_.has_value();
  if (promised_ != samples_ && format_.container != Container::kRaw) {
    // Without a promise a stream's header says "until the end", which is true;
    // a .zvf stream without one went to a spool file, which can seek.
    if (!out_.CanSeek() && promised_) {
      throw Failure(fmt::format("{}: wrote {} samples where the header promised {}", Name(),
                                samples_, promised_.value_or(0)));
    }
    if (out_.CanSeek()) out_.WriteAt(0, Header(samples_));
  }
  // A RIFF chunk of odd length is followed by a pad byte, except in a WAV
  // streamed without a length, whose reader takes everything to the end.
  if (format_.container == Container::kWav && (samples_ & 1) && (known || out_.CanSeek())) {
    const uint8_t pad = 0;
    out_.Write({&pad, 1});
  }
  out_.Commit();
}

}  // namespace zv
