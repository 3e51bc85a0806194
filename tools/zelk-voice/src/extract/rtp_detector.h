// Telling RTP from other UDP without being told the ports. A flow (addresses,
// ports and SSRC) becomes a stream once CONFIRM_PACKETS of its packets in a row
// agree with one another as an RTP sender's do: one payload type, sequence
// numbers a few apart, timestamps moving with them. Random or other UDP almost
// never does (the 32-bit SSRC alone must repeat). A flow to or from an address
// and port that SDP announced is a stream from its first packet. Packets held
// while a flow is on trial are handed back on confirmation, so the stream's
// figures start at its first packet.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "rtp_packet.h"
#include "sip_sdp.h"

namespace zv::extract {

struct StreamKey {
  Endpoint src, dst;
  uint32_t ssrc = 0;
  auto operator<=>(const StreamKey&) const = default;
};

// A packet kept while its flow is on trial.
struct HeldPacket {
  uint64_t number = 0;
  int64_t timeNs = 0;
  bool cut = false;
  std::vector<uint8_t> udpPayload;
};

struct DetectorLimits {
  size_t confirmPackets = 4;
  size_t maxFlows = 1024;                   // flows on trial at once
  size_t maxHeldBytes = 8 << 20;            // bytes held for all of them
  int64_t trialTimeoutNs = 10'000'000'000;  // a flow silent this long is forgotten
};

class RtpDetector {
 public:
  explicit RtpDetector(DetectorLimits limits = {}) : limits_(limits) {}

  // Offers a packet of a flow not yet known as a stream. Returns true when the
  // flow is now a stream; `confirmed` then holds its packets in capture order,
  // this one last.
  bool Offer(const StreamKey& key, const RtpHeader& rtp, HeldPacket packet, bool announced,
             std::vector<HeldPacket>& confirmed);

  void Expire(int64_t nowNs);
  size_t Flows() const { return flows_.size(); }

 private:
  struct Trial {
    RtpHeader last;  // payload view not used
    int64_t lastNs = 0;
    std::vector<HeldPacket> held;
    size_t bytes = 0;
  };
  static bool Consistent(const RtpHeader& before, const RtpHeader& now);
  void Forget(std::map<StreamKey, Trial>::iterator it);

  DetectorLimits limits_;
  std::map<StreamKey, Trial> flows_;
  size_t heldBytes_ = 0;
};

}  // namespace zv::extract
