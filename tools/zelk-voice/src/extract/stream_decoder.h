// One stream's audio: speech payloads decoded, lost time concealed, the
// sender's silence written as silence, all in time order into a PCM sink.
#pragma once

#include <zelk_voice_rtp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "payload_types.h"

namespace zv::extract {

using PcmSink = std::function<void(std::span<const int16_t>)>;

class StreamDecoder {
 public:
  explicit StreamDecoder(PcmSink sink) : sink_(std::move(sink)) {}
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Samples a payload of `bytes` carries for this decoder, -1 when that size
  // does not fit the codec.
  static long PayloadSamples(PayloadKind kind, size_t bytes);

  // Decodes one payload and passes its samples from `skip` on to the sink.
  // False, with the reason in `why`, when the payload is refused (nothing is
  // written then).
  bool Decode(PayloadKind kind, std::span<const uint8_t> payload, long skip, std::string& why);
  // Fills lost time from the decoded history, fading to silence.
  void Conceal(int64_t samples);
  void Silence(int64_t samples);

 private:
  PcmSink sink_;
  std::unique_ptr<ZelkRtpReceiver> receiver_;  // from the first payload on
  PayloadKind kind_ = PayloadKind::UNKNOWN;
};

}  // namespace zv::extract
