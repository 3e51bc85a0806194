// The RTP fixed header (RFC 3550 section 5.1) and extended sequence numbers
// and timestamps.
#pragma once

#include <cstdint>

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
// that keep growing, each new value taken as the one nearest to the highest so far.
class SequenceUnwrapper {
 public:
  int64_t Unwrap(uint16_t seq);
  int64_t Highest() const { return highest_; }

 private:
  bool started_ = false;
  int64_t highest_ = 0;
};

class TimestampUnwrapper {
 public:
  int64_t Unwrap(uint32_t ts);

 private:
  bool started_ = false;
  int64_t highest_ = 0;
};

}  // namespace zv::extract
