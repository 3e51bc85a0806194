// Until the RTP component's receiver is available, G.711 payloads go through
// the engine's frame decoder (one code per byte, rearranged into frames) and
// lost time is filled with silence.
#include "stream_decoder.h"

#include <zelk_voice_engine.h>

#include <algorithm>
#include <array>

namespace zv::extract {

struct StreamDecoder::State {
  VoiceCodecState codec{};
};

StreamDecoder::~StreamDecoder() { delete state_; }

long StreamDecoder::PayloadSamples(PayloadKind kind, size_t bytes) {
  if (kind == PayloadKind::PCMU || kind == PayloadKind::PCMA) {
    return bytes > 0 ? static_cast<long>(bytes) : -1;
  }
  return -1;
}

bool StreamDecoder::Decode(PayloadKind kind, std::span<const uint8_t> payload, long skip,
                           std::string& why) {
  if (kind != PayloadKind::PCMU && kind != PayloadKind::PCMA) {
    why = "this build decodes G.711 only";
    return false;
  }
  if (payload.empty()) {
    why = "empty payload";
    return false;
  }
  if (!state_ || kind != kind_) {
    delete state_;
    state_ = new State;
    kind_ = kind;
    ZELK_VOICE_DecReset(&state_->codec, LibraryCodecType(kind));
  }
  // Frames of up to 480 codes, the last padded to a multiple of 80 with the
  // code of silence; only the real samples are kept.
  const uint8_t pad = kind == PayloadKind::PCMU ? 0xFF : 0xD5;
  std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> frame{};
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> pcm{};
  size_t at = 0;
  long toSkip = skip;
  while (at < payload.size()) {
    const size_t n = std::min<size_t>(payload.size() - at, ZELK_VOICE_MAX_SAMPLES);
    const size_t padded = (n + 79) / 80 * 80;
    frame[0] = 0x0100;
    frame[1] = static_cast<uint16_t>(padded / 2);
    for (size_t i = 0; i < padded; i += 2) {
      const uint8_t a = i < n ? payload[at + i] : pad, b = i + 1 < n ? payload[at + i + 1] : pad;
      frame[2 + i / 2] = static_cast<uint16_t>(a << 8 | b);  // the earlier code in the high byte
    }
    int16_t count = 0;
    ZELK_VOICE_DecodeFrame(&state_->codec, frame.data(), pcm.data(), LibraryCodecType(kind),
                           &count);
    const long drop = std::min<long>(toSkip, static_cast<long>(n));
    toSkip -= drop;
    sink_(std::span<const int16_t>(pcm.data() + drop, n - static_cast<size_t>(drop)));
    at += n;
  }
  return true;
}

void StreamDecoder::Conceal(int64_t samples) { Silence(samples); }

void StreamDecoder::Silence(int64_t samples) {
  static constexpr std::array<int16_t, 480> ZEROS{};
  while (samples > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(samples, ZEROS.size()));
    sink_(std::span<const int16_t>(ZEROS.data(), n));
    samples -= static_cast<int64_t>(n);
  }
}

}  // namespace zv::extract
