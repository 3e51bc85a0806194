// IPv4 and IPv6 fragment reassembly in bounded memory. A datagram is handed on
// only when every byte of it has arrived; one that stays incomplete, whose
// fragments disagree, or that would exceed the limits is dropped and counted,
// never passed on in part.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "packet_layers.h"

namespace zv::extract {

struct ReassemblyLimits {
  size_t maxPending = 256;             // datagrams in progress at once
  int64_t timeoutNs = 30'000'000'000;  // capture time from a datagram's first fragment
  size_t maxDatagramBytes = 65535;     // upper-layer bytes of one datagram
};

// Why a datagram was dropped.
enum class FragmentFault {
  INCOMPLETE,  // timed out, pushed out by newer ones, or still open at the end
  CONFLICT,    // overlapping fragments with different bytes, or two different ends
  TOO_LONG,    // longer than the limit or than IP allows
  CUT,         // a fragment was captured shorter than it was sent
};

struct FragmentDrop {
  FragmentFault fault;
  uint64_t firstPacket;  // packet number of the datagram's first fragment seen
};

class IpReassembler {
 public:
  explicit IpReassembler(ReassemblyLimits limits = {}) : limits_(limits) {}

  // Adds one fragment seen at capture time `nowNs` in packet `packetNumber`.
  // Returns true when it completed a datagram: `out` then holds the datagram
  // (its upper-layer bytes in `whole`, protocol and addresses in `out`).
  bool Add(const IpPacket& fragment, int64_t nowNs, uint64_t packetNumber, IpPacket& out);

  // Drops datagrams that have waited longer than the timeout.
  void Expire(int64_t nowNs);
  // Drops everything still open (end of the capture).
  void Finish();

  // Drops since the last call, oldest first.
  std::vector<FragmentDrop> TakeDrops();
  size_t Pending() const { return pending_.size(); }

 private:
  struct Key {
    IpAddress src, dst;
    uint8_t protocol;
    uint32_t id;
    auto operator<=>(const Key&) const = default;
  };
  struct Datagram {
    std::vector<uint8_t> data;
    std::vector<std::pair<uint32_t, uint32_t>> have;  // received [begin, end), sorted, merged
    int64_t total = -1;                               // known from the last fragment
    int64_t firstSeenNs = 0;
    uint64_t firstPacket = 0;
  };
  using Map = std::map<Key, Datagram>;

  void Drop(Map::iterator it, FragmentFault fault);
  static bool Complete(const Datagram& d);

  ReassemblyLimits limits_;
  Map pending_;
  std::vector<FragmentDrop> drops_;
  std::vector<uint8_t> whole_;  // the last completed datagram, which `out` points into
};

}  // namespace zv::extract
