// The RTP fixed header (RFC 3550 section 5.1) and extended sequence numbers
// and timestamps.
#pragma once

#include <cstdint>
#include <type_traits>

#include "packet_layers.h"

namespace zv::extract {

struct RtpHeader {
  bool marker = false;
  uint8_t payloadType = 0;
  uint16_t seq = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  Bytes payload;  // after the CSRC list and any header extension, padding removed
};

// False for anything that cannot be RTP version 2: too short, another version,
// padding or extension running past the end, or a payload type in the range
// RTCP's packet types occupy (RFC 5761: 64..95 with the marker set, 72..76 always).
bool ParseRtp(Bytes udpPayload, RtpHeader& out);

// Heuristic test for RTCP (RFC 3550 section 6.4): version 2, packet type 200..207
// (or 192..195), lengths that add up to the datagram.
bool LooksLikeRtcp(Bytes udpPayload);

// Unwraps 16-bit sequence numbers and 32-bit timestamps into 64-bit counts
// that keep growing, each new value taken as the one nearest to the highest so
// far. The first value is placed one wrap up, leaving room below it for
// packets that come late.
template <typename Word>
class Unwrapper {
 public:
  int64_t Unwrap(Word v) {
    if (!started_) {
      started_ = true;
      highest_ = int64_t{v} + (int64_t{1} << (8 * sizeof(Word)));
      return highest_;
    }
    // The step from the highest so far, as the nearest signed number.
    const auto step =
        static_cast<std::make_signed_t<Word>>(static_cast<Word>(v - static_cast<Word>(highest_)));
    const int64_t ext = highest_ + step;
    if (ext > highest_) highest_ = ext;
    return ext;
  }
  int64_t Highest() const { return highest_; }

 private:
  bool started_ = false;
  int64_t highest_ = 0;
};

using SequenceUnwrapper = Unwrapper<uint16_t>;
using TimestampUnwrapper = Unwrapper<uint32_t>;

}  // namespace zv::extract
