// Through the RTP component's concealing receiver: payloads decoded (G.711
// bit for bit as the engine decodes it while nothing is lost), lost time played
// from the decoded history, fading to silence by 60 ms.
#include "stream_decoder.h"

#include <algorithm>
#include <array>

namespace zv::extract {

namespace {

// Concealment beyond this is silence already; the rest of a long gap is
// written as zeros without asking the receiver for each block.
constexpr int64_t MAX_CONCEALED = 1600;  // 200 ms

bool IsG711(PayloadKind k) { return k == PayloadKind::PCMU || k == PayloadKind::PCMA; }

const char* Refusal(uint32_t status) {
  switch (status) {
    case ZELK_RTP_ERR_PAYLOAD_SIZE:
      return "its size does not fit the codec";
    case ZELK_RTP_ERR_DVI4_INDEX:
      return "DVI4 header with a step index above 88";
    case ZELK_RTP_ERR_DVI4_RESERVED:
      return "DVI4 header with a reserved byte other than 0";
    default:
      return "refused by the decoder";
  }
}

}  // namespace

long StreamDecoder::PayloadSamples(PayloadKind kind, size_t bytes) {
  // G.711 keeps no state: a payload longer than the receiver takes at once
  // decodes in pieces.
  if (IsG711(kind)) return bytes > 0 ? static_cast<long>(bytes) : -1;
  const int type = LibraryCodecType(kind);
  if (type == 0) return -1;
  const int32_t n = ZELK_RTP_PayloadSamples(type, bytes);
  return n > 0 ? n : -1;
}

bool StreamDecoder::Decode(PayloadKind kind, std::span<const uint8_t> payload, long skip,
                           std::string& why) {
  const int type = LibraryCodecType(kind);
  if (type == 0 || PayloadSamples(kind, payload.size()) < 0) {
    why = "its size does not fit the codec";
    return false;
  }
  if (!receiver_ || kind != kind_) {
    // A stream that changes codec starts a receiver of the new one.
    receiver_ = std::make_unique<ZelkRtpReceiver>();
    kind_ = kind;
    ZELK_RTP_ReceiverReset(receiver_.get(), sizeof *receiver_, type);
  }
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> pcm{};
  const size_t piece = IsG711(kind) ? ZELK_VOICE_MAX_SAMPLES : payload.size();
  long toSkip = skip;
  for (size_t at = 0; at < payload.size(); at += piece) {
    const size_t n = std::min(piece, payload.size() - at);
    size_t count = 0;
    const uint32_t status = ZELK_RTP_ReceivePayload(
        receiver_.get(), sizeof *receiver_, payload.data() + at, n, pcm.data(), pcm.size(), &count);
    if (status != ZELK_RTP_OK) {
      why = Refusal(status);
      return false;
    }
    const auto drop = static_cast<size_t>(std::min<long>(toSkip, static_cast<long>(count)));
    toSkip -= static_cast<long>(drop);
    sink_(std::span<const int16_t>(pcm.data() + drop, count - drop));
  }
  return true;
}

void StreamDecoder::Conceal(int64_t samples) {
  if (!receiver_) {  // nothing decoded yet: nothing to conceal from
    Silence(samples);
    return;
  }
  std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> pcm{};
  const int64_t concealed = std::min(samples, MAX_CONCEALED);
  for (int64_t done = 0; done < concealed;) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(concealed - done, pcm.size()));
    if (ZELK_RTP_ConcealLoss(receiver_.get(), sizeof *receiver_, n, pcm.data(), pcm.size()) !=
        ZELK_RTP_OK) {
      Silence(samples - done);
      return;
    }
    sink_(std::span<const int16_t>(pcm.data(), static_cast<size_t>(n)));
    done += n;
  }
  Silence(samples - concealed);
}

void StreamDecoder::Silence(int64_t samples) {
  static constexpr std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> ZEROS{};
  while (samples > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(samples, ZEROS.size()));
    sink_(std::span<const int16_t>(ZEROS.data(), n));
    samples -= static_cast<int64_t>(n);
  }
}

}  // namespace zv::extract
