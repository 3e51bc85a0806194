#include "rtp_packet.h"

namespace zv::extract {

bool ParseRtp(Bytes b, RtpHeader& out) {
  if (b.size() < 12 || (b[0] >> 6) != 2) return false;
  const size_t csrcCount = b[0] & 0x0Fu;
  const bool padding = (b[0] & 0x20u) != 0;
  const bool extension = (b[0] & 0x10u) != 0;
  out.marker = (b[1] & 0x80u) != 0;
  out.payloadType = b[1] & 0x7Fu;
  if ((out.payloadType >= 72 && out.payloadType <= 76) ||
      (out.marker && out.payloadType >= 64 && out.payloadType <= 95)) {
    return false;
  }
  size_t at = 12 + 4 * csrcCount;
  if (b.size() < at) return false;
  if (extension) {
    if (b.size() < at + 4) return false;
    at += 4 + 4 * size_t{Be16(b.data() + at + 2)};
    if (b.size() < at) return false;
  }
  size_t end = b.size();
  if (padding) {
    const size_t pad = b.back();
    if (pad == 0 || pad > end - at) return false;
    end -= pad;
  }
  out.seq = Be16(b.data() + 2);
  out.timestamp = Be32(b.data() + 4);
  out.ssrc = Be32(b.data() + 8);
  out.payload = b.subspan(at, end - at);
  return true;
}

bool LooksLikeRtcp(Bytes b) {
  // A compound packet: every part version 2, its length in words minus one;
  // the first is a sender or receiver report (or a feedback message).
  if (b.size() < 8 || (b[0] >> 6) != 2) return false;
  const uint8_t firstType = b[1];
  if (!((firstType >= 200 && firstType <= 207) || (firstType >= 192 && firstType <= 195))) {
    return false;
  }
  size_t at = 0;
  while (at + 4 <= b.size()) {
    if ((b[at] >> 6) != 2) return false;
    at += 4 * (size_t{Be16(b.data() + at + 2)} + 1);
  }
  return at == b.size();
}

}  // namespace zv::extract
