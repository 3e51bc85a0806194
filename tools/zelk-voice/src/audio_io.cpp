#include "audio_io.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "failure.h"
#include "output_file.h"

namespace zv {

namespace {

constexpr sf_count_t READ_CHUNK_FRAMES = 1 << 16;

Failure FileFailure(const std::string& path, const std::string& what) {
  return Failure(fmt::format("{}: {}", path, what));
}

// An input opened by us (so errors carry errno) and handed to libsndfile.
class SoundIn {
 public:
  SoundIn(const std::string& path, const RawInput& raw) : path_(path) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw FileFailure(path, fmt::format("cannot open: {}", std::strerror(errno)));
    struct stat st {};
    if (fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
      close(fd_);
      throw FileFailure(path, "cannot read: not a regular file");
    }
    if (st.st_size == 0) {
      close(fd_);
      throw FileFailure(path, "file is empty");
    }
    if (raw.rate > 0) {
      info_.samplerate = raw.rate;
      info_.channels = raw.channels;
      info_.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    }
    sf_ = sf_open_fd(fd_, SFM_READ, &info_, SF_FALSE);
    if (sf_ == nullptr) {
      const std::string why = sf_strerror(nullptr);
      close(fd_);
      throw FileFailure(path, fmt::format("not an audio file libsndfile can read ({})", why));
    }
    if (info_.channels < 1) {
      Close();
      throw FileFailure(path, "has no audio channels");
    }
  }
  ~SoundIn() { Close(); }
  SoundIn(const SoundIn&) = delete;
  SoundIn& operator=(const SoundIn&) = delete;

  const SF_INFO& Info() const { return info_; }
  SNDFILE* Handle() const { return sf_; }

  // Reads with `read` (frames or bytes) in chunks until the data ends.
  template <typename T, typename ReadFn>
  std::vector<T> ReadAll(size_t itemsPerFrame, ReadFn read, ProgressSink progress = {}) {
    std::vector<T> out;
    for (;;) {
      const size_t have = out.size();
      out.resize(have + static_cast<size_t>(READ_CHUNK_FRAMES) * itemsPerFrame);
      const sf_count_t got = read(sf_, out.data() + have, READ_CHUNK_FRAMES);
      if (got < 0) throw FileFailure(path_, fmt::format("read failed: {}", sf_strerror(sf_)));
      out.resize(have + static_cast<size_t>(got) * itemsPerFrame);
      if (got == 0) break;
      if (info_.frames > 0) {
        progress.Report(0.25 * static_cast<double>(out.size() / itemsPerFrame) /
                        static_cast<double>(info_.frames));
      }
    }
    if (sf_error(sf_) != SF_ERR_NO_ERROR) {
      throw FileFailure(path_, fmt::format("read failed: {}", sf_strerror(sf_)));
    }
    if (out.empty()) throw FileFailure(path_, "contains no audio samples");
    return out;
  }

 private:
  void Close() {
    if (sf_ != nullptr) sf_close(sf_);
    sf_ = nullptr;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  std::string path_;
  int fd_ = -1;
  SF_INFO info_{};
  SNDFILE* sf_ = nullptr;
};

int16_t ToInt16(double v) {
  return static_cast<int16_t>(std::lround(std::clamp(v * 32768.0, -32768.0, 32767.0)));
}

std::string SubtypeName(int format) {
  SF_FORMAT_INFO fi{};
  fi.format = format & SF_FORMAT_SUBMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &fi, sizeof fi) == 0 && fi.name) return fi.name;
  return fmt::format("sample format 0x{:04X}", fi.format);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Opens `out` for libsndfile, runs `write` and closes, turning any failure into a Failure.
template <typename WriteFn>
void WriteSound(OutputFile& out, SF_INFO info, WriteFn write) {
  SNDFILE* sf = sf_open_fd(out.Fd(), SFM_WRITE, &info, SF_FALSE);
  if (sf == nullptr) {
    throw FileFailure(out.Path(), fmt::format("cannot write: {}", sf_strerror(nullptr)));
  }
  const bool ok = write(sf);
  const std::string why = sf_strerror(sf);
  if (sf_close(sf) != 0 || !ok) throw FileFailure(out.Path(), fmt::format("write failed: {}", why));
  out.Commit();
}

}  // namespace

std::vector<double> Resample(std::span<const double> in, double fromRate, double toRate) {
  const auto outLength =
      static_cast<size_t>(std::llround(static_cast<double>(in.size()) * toRate / fromRate));
  std::vector<double> out(outLength);
  size_t produced = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_error_t error =
      soxr_oneshot(fromRate, toRate, 1, in.data(), in.size(), nullptr, out.data(), out.size(),
                   &produced, &io, &quality, nullptr);
  if (error) throw Failure(fmt::format("resampling failed: {}", error));
  out.resize(produced);
  return out;
}

std::vector<int16_t> ReadMonoPcm(const std::string& path, int rate, const RawInput& raw,
                                 ProgressSink progress) {
  SoundIn in(path, raw);
  const auto channels = static_cast<size_t>(in.Info().channels);
  const int fileRate = in.Info().samplerate;
  if (fileRate <= 0) throw FileFailure(path, fmt::format("bad sample rate {}", fileRate));
  std::vector<double> data = in.ReadAll<double>(channels, sf_readf_double, progress);
  if (channels > 1) {
    const size_t frames = data.size() / channels;
    for (size_t i = 0; i < frames; ++i) {
      double sum = 0;
      for (size_t c = 0; c < channels; ++c) sum += data[i * channels + c];
      data[i] = sum / static_cast<double>(channels);
    }
    data.resize(frames);
  }
  if (fileRate != rate) data = Resample(data, fileRate, rate);
  if (data.empty()) throw FileFailure(path, "too short to give one sample at the target rate");
  std::vector<int16_t> out(data.size());
  std::transform(data.begin(), data.end(), out.begin(), ToInt16);
  return out;
}

int MajorFormatForPath(const std::string& path) {
  std::string ext = Lower(std::filesystem::path(path).extension().string());
  if (ext.size() > 1) ext.erase(0, 1);
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

void WritePcm(const std::string& path, std::span<const int16_t> samples, int rate,
              int majorFormat) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  const int endian = majorFormat == SF_FORMAT_RAW ? SF_ENDIAN_LITTLE : 0;
  for (int subtype :
       {SF_FORMAT_PCM_16, SF_FORMAT_VORBIS, SF_FORMAT_OPUS, SF_FORMAT_MPEG_LAYER_III}) {
    info.format = majorFormat | subtype | endian;
    if (sf_format_check(&info)) break;
  }
  if (!sf_format_check(&info)) {
    throw UsageFailure(
        fmt::format("{}: libsndfile cannot write mono 16-bit audio in this format", path));
  }
  OutputFile out(path);
  WriteSound(out, info, [&](SNDFILE* sf) {
    return sf_write_short(sf, samples.data(), static_cast<sf_count_t>(samples.size())) ==
           static_cast<sf_count_t>(samples.size());
  });
}

G711File ReadG711File(const std::string& path) {
  SoundIn in(path, {});
  const int subtype = in.Info().format & SF_FORMAT_SUBMASK;
  if (subtype != SF_FORMAT_ALAW && subtype != SF_FORMAT_ULAW) {
    throw FileFailure(path, fmt::format("not an A-law or \u00b5-law file (it holds {})",
                                        SubtypeName(in.Info().format)));
  }
  if (in.Info().channels != 1) {
    throw FileFailure(path, fmt::format("has {} channels; an A-law/\u00b5-law file must be mono",
                                        in.Info().channels));
  }
  G711File g;
  g.codecType = subtype == SF_FORMAT_ALAW ? 1 : 2;
  g.rate = in.Info().samplerate;
  g.codes = in.ReadAll<uint8_t>(
      1, [](SNDFILE* sf, uint8_t* dst, sf_count_t n) { return sf_read_raw(sf, dst, n); });
  return g;
}

void WriteG711Wav(const std::string& path, int codecType, std::span<const uint8_t> codes,
                  int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | (codecType == 1 ? SF_FORMAT_ALAW : SF_FORMAT_ULAW);
  OutputFile out(path);
  // Raw writes put our codes in the data chunk as they are; libsndfile's own
  // G.711 encoder would round differently from the library.
  WriteSound(out, info, [&](SNDFILE* sf) {
    return sf_write_raw(sf, codes.data(), static_cast<sf_count_t>(codes.size())) ==
           static_cast<sf_count_t>(codes.size());
  });
}

}  // namespace zv
