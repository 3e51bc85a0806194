#include "codec.h"

#include <fmt/format.h>
#include <zelk_voice_engine.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "failure.h"

namespace zv {

const Codec* FindCodec(std::string_view name) {
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

namespace {

std::string StatusText(uint32_t status) { return fmt::format("status 0x{:08X}", status); }

void ResetOrThrow(uint32_t (*reset)(void*, int32_t), VoiceCodecState& state, const Codec& codec) {
  const uint32_t status = reset(&state, codec.type);
  if (status != VOICE_OK) {
    throw Failure(fmt::format("library refused to reset {} ({})", codec.label, StatusText(status)));
  }
}

}  // namespace

std::vector<uint8_t> EncodeFrames(const Codec& codec, int samplesPerFrame,
                                  std::span<const int16_t> samples, ProgressSink progress) {
  VoiceCodecState state{};
  ResetOrThrow(ZELK_VOICE_EncReset, state, codec);
  const auto spf = static_cast<size_t>(samplesPerFrame);
  const size_t frameCount = (samples.size() + spf - 1) / spf;
  const auto frameBytes = static_cast<size_t>(FrameBytes(codec, samplesPerFrame));
  std::vector<uint8_t> out(frameCount * frameBytes);
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> block{};
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  for (size_t k = 0; k < frameCount; ++k) {
    const size_t start = k * spf;
    const size_t have = std::min(spf, samples.size() - start);
    std::fill(block.begin(), block.end(), int16_t{0});
    std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(start), have, block.begin());
    const uint32_t status =
        ZELK_VOICE_EncodeFrame(&state, block.data(), frame.data(), samplesPerFrame, codec.type);
    if (status != VOICE_OK) {
      throw Failure(fmt::format("library refused to encode frame {} ({})", k, StatusText(status)));
    }
    // The library's frames already hold their little-endian bytes.
    std::memcpy(out.data() + k * frameBytes, frame.data(), frameBytes);
    if (k % 256 == 255) progress.Report(static_cast<double>(k) / static_cast<double>(frameCount));
  }
  return out;
}

std::vector<int16_t> DecodeFrames(const Codec& codec, int samplesPerFrame,
                                  std::span<const uint8_t> frames, size_t totalSamples,
                                  const std::string& fileName, size_t offsetBase,
                                  ProgressSink progress) {
  VoiceCodecState state{};
  ResetOrThrow(ZELK_VOICE_DecReset, state, codec);
  const auto spf = static_cast<size_t>(samplesPerFrame);
  const auto frameBytes = static_cast<size_t>(FrameBytes(codec, samplesPerFrame));
  const size_t frameCount = frames.size() / frameBytes;
  std::vector<int16_t> out;
  out.reserve(frameCount * spf);
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> block{};
  for (size_t k = 0; k < frameCount; ++k) {
    std::memcpy(frame.data(), frames.data() + k * frameBytes, frameBytes);
    int16_t got = 0;
    const uint32_t status =
        ZELK_VOICE_DecodeFrame(&state, frame.data(), block.data(), codec.type, &got);
    if (status != VOICE_OK || got != samplesPerFrame) {
      throw Failure(fmt::format("{}: frame {} at byte {}: library refused the frame ({})", fileName,
                                k, offsetBase + k * frameBytes, StatusText(status)));
    }
    out.insert(out.end(), block.begin(), block.begin() + samplesPerFrame);
    if (k % 256 == 255) progress.Report(static_cast<double>(k) / static_cast<double>(frameCount));
  }
  if (out.size() > totalSamples) out.resize(totalSamples);
  return out;
}

std::vector<uint8_t> G711CodesFromFrames(std::span<const uint8_t> frames, int samplesPerFrame,
                                         size_t totalSamples) {
  const size_t frameBytes = FRAME_HEADER_BYTES + static_cast<size_t>(samplesPerFrame);
  std::vector<uint8_t> codes;
  codes.reserve(frames.size());
  for (size_t pos = 0; pos + frameBytes <= frames.size(); pos += frameBytes) {
    for (size_t b = pos + FRAME_HEADER_BYTES; b < pos + frameBytes; b += 2) {
      codes.push_back(frames[b + 1]);  // high byte: the earlier sample
      codes.push_back(frames[b]);
    }
  }
  if (codes.size() > totalSamples) codes.resize(totalSamples);
  return codes;
}

std::vector<uint8_t> G711FramesFromCodes(std::span<const uint8_t> codes, int samplesPerFrame) {
  const size_t spf = static_cast<size_t>(samplesPerFrame);
  const size_t frameCount = (codes.size() + spf - 1) / spf;
  const auto payloadWords = static_cast<uint8_t>(spf / 2);
  std::vector<uint8_t> frames;
  frames.reserve(frameCount * (FRAME_HEADER_BYTES + spf));
  for (size_t k = 0; k < frameCount; ++k) {
    frames.insert(frames.end(), {0x00, 0x01, payloadWords, 0x00});
    for (size_t i = k * spf; i < (k + 1) * spf; i += 2) {
      // Past the end the frame is padded with code 0; those samples are dropped after decoding.
      const uint8_t first = i < codes.size() ? codes[i] : 0;
      const uint8_t second = i + 1 < codes.size() ? codes[i + 1] : 0;
      frames.push_back(second);
      frames.push_back(first);
    }
  }
  return frames;
}

}  // namespace zv

#include "metrics.h"

namespace zv {

CodecSpeed MeasureCodecSpeed(const Codec& codec, int samplesPerFrame,
                             std::span<const int16_t> samples, double minSeconds) {
  const size_t spf = static_cast<size_t>(samplesPerFrame);
  const size_t frameCount = samples.size() / spf;
  if (frameCount == 0) return {};
  const size_t frameWords = static_cast<size_t>(FrameBytes(codec, samplesPerFrame)) / 2;
  std::vector<uint16_t> frames(frameCount * frameWords);
  std::vector<int16_t> decoded(frameCount * spf);
  VoiceCodecState encoder{}, decoder{};
  auto encode = [&] {
    ZELK_VOICE_EncReset(&encoder, codec.type);
    for (size_t k = 0; k < frameCount; ++k) {
      ZELK_VOICE_EncodeFrame(&encoder, samples.data() + k * spf, frames.data() + k * frameWords,
                             samplesPerFrame, codec.type);
    }
  };
  auto decode = [&] {
    ZELK_VOICE_DecReset(&decoder, codec.type);
    int16_t got = 0;
    for (size_t k = 0; k < frameCount; ++k) {
      ZELK_VOICE_DecodeFrame(&decoder, frames.data() + k * frameWords, decoded.data() + k * spf,
                             codec.type, &got);
    }
  };
  const double n = static_cast<double>(frameCount * spf);
  CodecSpeed speed;
  speed.encodeSecondsPerSample = SecondsPerRun(encode, minSeconds) / n;
  speed.decodeSecondsPerSample = SecondsPerRun(decode, minSeconds) / n;
  return speed;
}

}  // namespace zv
