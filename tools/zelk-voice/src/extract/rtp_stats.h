// Per-stream network figures. Packets, lost, maximum delta and jitter follow
// the definitions of Wireshark's RTP stream analysis (`tshark -z rtp,streams`),
// worked out by running tshark on captures made for the purpose:
//
//  - Packets: every packet of the stream, duplicates included.
//  - Expected = cycles * 65536 + (sequence number of the LAST packet) - (first
//    sequence number) + 1, and Lost = Expected - Packets, so duplicates make it
//    smaller and it can be negative. A cycle is counted when a sequence number
//    below the first one arrives while the previous one was not below it, and
//    the packet's timestamp is not earlier than the first packet's (a packet from
//    before the start is late, not a wrap); for a stream starting at 0, when 0
//    follows 65535.
//  - Delta: capture time since the previous packet. Jitter: RFC 3550's
//    J += (|D| - J) / 16, D the difference of the capture-time and the RTP-time
//    steps from the previous packet, in capture order (reordered packets and
//    duplicates included), converted with the payload's clock rate.
//  - A packet whose timestamp is earlier than the first packet's is left out:
//    it updates neither J nor the reference the next packet is measured from.
//  - Packets with the marker bit set, comfort-noise packets (payload type 13)
//    and the packet after one do update J, but their delta and jitter do not
//    count towards the maximum; the mean repeats the last counted value for them.
//  - Mean delta and mean jitter average over every packet after the first.
//
// Duplicates and out-of-order packets are this tool's own counts, from
// sequence numbers unwrapped against the highest one seen (not tshark's).
#pragma once

#include <bitset>
#include <cstdint>

#include "rtp_packet.h"

namespace zv::extract {

class RtpStreamStats {
 public:
  // One packet, in capture order. clockRate 0 leaves jitter at 0. Returns the
  // packet's sequence number unwrapped against the highest one seen.
  int64_t Add(int64_t arrivalNs, const RtpHeader& rtp, uint32_t clockRate);

  uint64_t Packets() const { return packets_; }
  int64_t Expected() const;
  int64_t Lost() const { return Expected() - static_cast<int64_t>(packets_); }
  uint64_t Duplicates() const { return duplicates_; }
  // Sequence numbers between the lowest and the highest seen that never
  // arrived: what a listener lost (tshark's Lost also counts duplicates and
  // can take a reordered packet near the wrap for a new cycle).
  int64_t Missing() const;
  uint64_t OutOfOrder() const { return outOfOrder_; }
  double MaxDeltaMs() const { return maxDeltaMs_; }
  double MeanDeltaMs() const;
  double MaxJitterMs() const { return maxJitterMs_; }
  double MeanJitterMs() const;
  double JitterMs() const { return jitterMs_; }  // RFC 3550 J after the last packet
  int64_t FirstNs() const { return firstNs_; }
  int64_t LastNs() const { return lastNs_; }

 private:
  int64_t CountOrder(uint16_t seq);  // returns the unwrapped number

  uint64_t packets_ = 0;
  int64_t firstNs_ = 0, lastNs_ = 0;
  // tshark's sequence bookkeeping
  uint16_t startSeq_ = 0, lastSeq_ = 0;
  uint32_t startTs_ = 0;
  int64_t cycles_ = 0;
  bool under_ = false;
  // jitter and delta
  int64_t refNs_ = 0;
  uint32_t refTs_ = 0;
  int prevPayloadType_ = -1;
  double jitterMs_ = 0;
  double lastDeltaMs_ = 0, lastJitterMs_ = 0;  // last counted values
  double maxDeltaMs_ = 0, maxJitterMs_ = 0;
  double sumDeltaMs_ = 0, sumJitterMs_ = 0;
  // our own order counts: which of the last WINDOW sequence numbers have arrived
  static constexpr int WINDOW = 1024;
  SequenceUnwrapper unwrap_;
  int64_t windowTop_ = 0;
  int64_t lowest_ = 0;  // highest unwrapped sequence number; bit (n % WINDOW) marks n
  std::bitset<WINDOW> seen_;
  uint64_t duplicates_ = 0, outOfOrder_ = 0;
};

}  // namespace zv::extract
