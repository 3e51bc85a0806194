#include "codec.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "failure.h"

namespace zv {

namespace {

struct Alias {
  const char* alias;
  const char* name;
};
constexpr Alias CODEC_ALIASES[] = {
    {"mulaw", "ulaw"}, {"pcmu", "ulaw"}, {"pcma", "alaw"}, {"dvi", "ima"}};

}  // namespace

std::string StatusText(uint32_t status) { return fmt::format("status 0x{:08X}", status); }

void ResetOrThrow(uint32_t (*reset)(void*, int32_t), VoiceCodecState& state, const Codec& codec) {
  const uint32_t status = reset(&state, codec.type);
  if (status != VOICE_OK) {
    throw Failure(fmt::format("library refused to reset {} ({})", codec.label, StatusText(status)));
  }
}

const Codec* FindCodec(std::string_view name) {
  for (const Alias& a : CODEC_ALIASES) {
    if (name == a.alias) name = a.name;
  }
  for (const Codec& c : CODECS) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const Codec* FindCodecType(int type) {
  for (const Codec& c : CODECS) {
    if (type == c.type) return &c;
  }
  return nullptr;
}

std::vector<std::string> CodecNames() {
  std::vector<std::string> names;
  for (const Codec& c : CODECS) names.emplace_back(c.name);
  return names;
}

std::string CodecNameList() {
  std::vector<std::string> aliases;
  for (const Alias& a : CODEC_ALIASES) aliases.emplace_back(a.alias);
  return fmt::format("{} (also {})", fmt::join(CodecNames(), ", "), fmt::join(aliases, ", "));
}

bool IsG711(const Codec& codec) { return codec.bitsPerCode == 8; }

uint32_t LibraryVersion() { return ZELK_VOICE_GetVersionNumber(); }

bool ValidSamplesPerFrame(long samples) {
  return samples >= ZELK_VOICE_MIN_SAMPLES && samples <= ZELK_VOICE_MAX_SAMPLES &&
         samples % ZELK_VOICE_SAMPLE_STEP == 0;
}

int SamplesPerFrameForMs(int ms) { return ms * SAMPLE_RATE / 1000; }

int PayloadWords(const Codec& codec, int samplesPerFrame) {
  return samplesPerFrame * codec.bitsPerCode / 16;
}

int FrameBytes(const Codec& codec, int samplesPerFrame) {
  return FRAME_HEADER_BYTES + 2 * PayloadWords(codec, samplesPerFrame);
}

FrameEncoder::FrameEncoder(const Codec& codec, int samplesPerFrame)
    : codec_(codec),
      samplesPerFrame_(samplesPerFrame),
      bytes_(static_cast<size_t>(zv::FrameBytes(codec, samplesPerFrame))) {
  ResetOrThrow(ZELK_VOICE_EncReset, state_, codec);
}

std::span<const uint8_t> FrameEncoder::Encode(std::span<const int16_t> samples) {
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> block{};
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  std::copy_n(samples.begin(), std::min(samples.size(), size_t{ZELK_VOICE_MAX_SAMPLES}),
              block.begin());
  const uint32_t status =
      ZELK_VOICE_EncodeFrame(&state_, block.data(), frame.data(), samplesPerFrame_, codec_.type);
  if (status != VOICE_OK) {
    throw Failure(
        fmt::format("library refused to encode frame {} ({})", frames_, StatusText(status)));
  }
  // The library's frames already hold their little-endian bytes, on every host.
  std::memcpy(bytes_.data(), frame.data(), bytes_.size());
  ++frames_;
  return bytes_;
}

FrameDecoder::FrameDecoder(const Codec& codec) : codec_(codec) {
  ResetOrThrow(ZELK_VOICE_DecReset, state_, codec);
}

size_t FrameDecoder::Decode(std::span<const uint8_t> bytes, std::span<int16_t> out,
                            const std::string& where) {
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  const size_t words = std::min(bytes.size() / 2, frame.size());
  std::memcpy(frame.data(), bytes.data(), 2 * words);  // little-endian bytes, as the library reads
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> block{};
  int16_t got = 0;
  const uint32_t status =
      ZELK_VOICE_DecodeFrame(&state_, frame.data(), block.data(), codec_.type, &got);
  if (status != VOICE_OK || got <= 0 || static_cast<size_t>(got) > out.size()) {
    throw Failure(fmt::format("{}: library refused the frame ({})", where, StatusText(status)));
  }
  std::copy_n(block.begin(), got, out.begin());
  return static_cast<size_t>(got);
}

void G711CodesFromFrame(std::span<const uint8_t> frame, std::span<uint8_t> codes) {
  for (size_t i = 0; i < codes.size(); i += 2) {
    codes[i] = frame[FRAME_HEADER_BYTES + i + 1];  // high byte: the earlier sample
    if (i + 1 < codes.size()) codes[i + 1] = frame[FRAME_HEADER_BYTES + i];
  }
}

void G711FrameFromCodes(std::span<const uint8_t> codes, int samplesPerFrame,
                        std::span<uint8_t> frame) {
  const auto spf = static_cast<size_t>(samplesPerFrame);
  frame[0] = 0x00;
  frame[1] = 0x01;
  frame[2] = static_cast<uint8_t>(spf / 2);
  frame[3] = 0x00;
  for (size_t i = 0; i < spf; i += 2) {
    // Past the end the frame is padded with code 0; those samples are dropped after decoding.
    frame[FRAME_HEADER_BYTES + i] = i + 1 < codes.size() ? codes[i + 1] : 0;
    frame[FRAME_HEADER_BYTES + i + 1] = i < codes.size() ? codes[i] : 0;
  }
}

std::vector<int16_t> DecodeFrames(const Codec& codec, int samplesPerFrame,
                                  std::span<const uint8_t> frames, size_t totalSamples,
                                  const std::string& fileName, size_t offsetBase) {
  FrameDecoder decoder(codec);
  const auto frameBytes = static_cast<size_t>(FrameBytes(codec, samplesPerFrame));
  const size_t frameCount = frames.size() / frameBytes;
  std::vector<int16_t> out(frameCount * static_cast<size_t>(samplesPerFrame));
  size_t have = 0;
  for (size_t k = 0; k < frameCount; ++k) {
    have += decoder.Decode(
        frames.subspan(k * frameBytes, frameBytes), std::span(out).subspan(have),
        fmt::format("{}: frame {} at byte {}", fileName, k, offsetBase + k * frameBytes));
  }
  out.resize(std::min(have, totalSamples));
  return out;
}

CodecSpeed MeasureCodecSpeed(const Codec& codec, int samplesPerFrame,
                             std::span<const int16_t> samples, double minSeconds) {
  using Clock = std::chrono::steady_clock;
  const auto spf = static_cast<size_t>(samplesPerFrame);
  const size_t frameCount = samples.size() / spf;
  if (frameCount == 0) return {};
  // A second of frames at a time: encoded into a small buffer, then decoded
  // from it, so the figures need no memory in proportion to the signal.
  const size_t chunkFrames = std::max<size_t>(1, SAMPLE_RATE / spf);
  const size_t frameWords = static_cast<size_t>(FrameBytes(codec, samplesPerFrame)) / 2;
  std::vector<uint16_t> frames(chunkFrames * frameWords);
  std::vector<int16_t> decoded(chunkFrames * spf);
  VoiceCodecState encoder{}, decoder{};
  double encodeSeconds = 0, decodeSeconds = 0;
  auto pass = [&] {
    ZELK_VOICE_EncReset(&encoder, codec.type);
    ZELK_VOICE_DecReset(&decoder, codec.type);
    int16_t got = 0;
    for (size_t first = 0; first < frameCount; first += chunkFrames) {
      const size_t n = std::min(chunkFrames, frameCount - first);
      const auto t0 = Clock::now();
      for (size_t k = 0; k < n; ++k) {
        ZELK_VOICE_EncodeFrame(&encoder, samples.data() + (first + k) * spf,
                               frames.data() + k * frameWords, samplesPerFrame, codec.type);
      }
      const auto t1 = Clock::now();
      for (size_t k = 0; k < n; ++k) {
        ZELK_VOICE_DecodeFrame(&decoder, frames.data() + k * frameWords, decoded.data() + k * spf,
                               codec.type, &got);
      }
      const auto t2 = Clock::now();
      encodeSeconds += std::chrono::duration<double>(t1 - t0).count();
      decodeSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
  };
  const double n = static_cast<double>(frameCount * spf);
  CodecSpeed best{1e300, 1e300};
  pass();  // warm caches and page in the buffers
  for (int batch = 0; batch < 3; ++batch) {
    encodeSeconds = decodeSeconds = 0;
    long runs = 0;
    do {
      pass();
      ++runs;
    } while (encodeSeconds + decodeSeconds < minSeconds / 3);
    best.encodeSecondsPerSample =
        std::min(best.encodeSecondsPerSample, encodeSeconds / static_cast<double>(runs) / n);
    best.decodeSecondsPerSample =
        std::min(best.decodeSecondsPerSample, decodeSeconds / static_cast<double>(runs) / n);
  }
  return best;
}

}  // namespace zv
