#include "coded_reader.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "containers.h"
#include "failure.h"
#include "files.h"

namespace zv {

namespace {

constexpr size_t CODE_BLOCK = ZELK_VOICE_MAX_SAMPLES;
constexpr uint64_t PIPE_PLACEHOLDER_BYTES = 0x7FFF0000;

std::string SubtypeName(int format) {
  SF_FORMAT_INFO fi{};
  fi.format = format & SF_FORMAT_SUBMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &fi, sizeof fi) == 0 && fi.name) return fi.name;
  return fmt::format("sample format 0x{:04X}", fi.format);
}

}  // namespace

CodedReader::CodedReader(const std::string& path, const Codec* headerless) : in_(path) {
  const std::string ext = ExtensionOf(path);
  if (headerless == nullptr && (ext == "al" || ext == "ul")) {
    headerless = FindCodec(ext == "al" ? "alaw" : "ulaw");
  }
  if (headerless != nullptr) {
    kind_ = Kind::kHeaderless;
    codec_ = headerless;
    samples_ = in_.Size();
  } else {
    const std::span<const uint8_t> head = in_.Peek(ZVF_MAGIC.size());
    if (head.empty()) throw Failure(fmt::format("{}: no data", Name()));
    if (ext == "zvf" || HasZvfMagic(head)) {
      kind_ = Kind::kStream;
      zvf_ = std::make_unique<ZvfReader>([this](std::span<uint8_t> dst) { return in_.Read(dst); },
                                         Name());
      codec_ = &zvf_->StreamCodec();
      samples_ = zvf_->Header().totalSamples;
    } else {
      kind_ = Kind::kContainer;
      OpenContainer();
    }
  }
  decoder_ = std::make_unique<FrameDecoder>(*codec_);
}

void CodedReader::OpenContainer() {
  sf_ = OpenSndfileForReading(in_.DescriptorFromStart(), info_);
  if (sf_ == nullptr) {
    in_.CheckFeed();
    throw Failure(fmt::format(
        "{}: neither a .zvf stream nor an A-law/\u00b5-law file libsndfile can read ({})", Name(),
        sf_strerror(nullptr)));
  }
  const int subtype = info_.format & SF_FORMAT_SUBMASK;
  if (subtype != SF_FORMAT_ALAW && subtype != SF_FORMAT_ULAW) {
    throw Failure(fmt::format("{}: not an A-law or \u00b5-law file (it holds {})", Name(),
                              SubtypeName(info_.format)));
  }
  if (info_.channels != 1) {
    throw Failure(fmt::format("{}: has {} channels; an A-law/\u00b5-law file must be mono", Name(),
                              info_.channels));
  }
  if (info_.samplerate <= 0) {
    throw Failure(fmt::format("{}: bad sample rate {}", Name(), info_.samplerate));
  }
  codec_ = FindCodec(subtype == SF_FORMAT_ALAW ? "alaw" : "ulaw");
  rate_ = info_.samplerate;
  if (in_.IsRegular()) {
    warnings_ = CheckContainer(in_.Fd(), *in_.Size(), info_.format & SF_FORMAT_TYPEMASK, Name());
    if (info_.frames == 0) throw Failure(fmt::format("{}: contains no audio samples", Name()));
    if (info_.frames > 0 && info_.frames != SF_COUNT_MAX) {
      samples_ = static_cast<uint64_t>(info_.frames);
    }
  } else if (info_.frames > 0 && static_cast<uint64_t>(info_.frames) < PIPE_PLACEHOLDER_BYTES) {
    samples_ = static_cast<uint64_t>(info_.frames);
  }
}

size_t CodedReader::ReadStream(std::span<int16_t> out) {
  const std::span<const uint8_t> frame = zvf_->Next();
  if (frame.empty()) return 0;
  const uint64_t index = zvf_->FramesRead() - 1;
  const uint64_t offset = zvf_->BytesRead() - zvf_->FrameBytes();
  size_t n =
      decoder_->Decode(frame, out, fmt::format("{}: frame {} at byte {}", Name(), index, offset));
  n = static_cast<size_t>(std::min<uint64_t>(n, *samples_ - samplesRead_));
  samplesRead_ += n;
  return n;
}

size_t CodedReader::ReadCodes(std::span<int16_t> out) {
  std::array<uint8_t, CODE_BLOCK> codes{};
  size_t got = 0;
  if (kind_ == Kind::kHeaderless) {
    got = in_.Read(codes);
  } else {
    while (got < codes.size()) {
      const sf_count_t n =
          sf_read_raw(sf_.get(), codes.data() + got, static_cast<sf_count_t>(codes.size() - got));
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  if (got == 0) {
    in_.CheckFeed();
    if (sf_ != nullptr && sf_error(sf_.get()) != SF_ERR_NO_ERROR) {
      throw Failure(fmt::format("{}: read failed after sample {}: {}", Name(), samplesRead_,
                                sf_strerror(sf_.get())));
    }
    if (samplesRead_ == 0) throw Failure(fmt::format("{}: contains no audio samples", Name()));
    if (samples_ && samplesRead_ < *samples_) {
      throw Failure(fmt::format(
          "{}: truncated: the codes stop after {} of the {} samples the header declares", Name(),
          samplesRead_, *samples_));
    }
    return 0;
  }
  std::array<uint8_t, FRAME_HEADER_BYTES + CODE_BLOCK> frame{};
  G711FrameFromCodes({codes.data(), got}, static_cast<int>(CODE_BLOCK), frame);
  decoder_->Decode(frame, out, fmt::format("{}: sample {}", Name(), samplesRead_));
  samplesRead_ += got;
  return got;
}

size_t CodedReader::Read(std::span<int16_t> out) {
  return kind_ == Kind::kStream ? ReadStream(out) : ReadCodes(out);
}

double CodedReader::Fraction() const {
  if (kind_ == Kind::kStream) {
    return static_cast<double>(zvf_->FramesRead()) / static_cast<double>(zvf_->FrameCount());
  }
  if (samples_ && *samples_ > 0) {
    return static_cast<double>(samplesRead_) / static_cast<double>(*samples_);
  }
  return 0;
}

}  // namespace zv
