#include "ip_reassembly.h"

#include <algorithm>
#include <cstring>

namespace zv::extract {

bool IpReassembler::Complete(const Datagram& d) {
  return d.total >= 0 && d.have.size() == 1 && d.have[0].first == 0 &&
         d.have[0].second == static_cast<uint32_t>(d.total);
}

void IpReassembler::Drop(Map::iterator it, FragmentFault fault) {
  drops_.push_back({fault, it->second.firstPacket});
  pending_.erase(it);
}

bool IpReassembler::Add(const IpPacket& f, int64_t nowNs, uint64_t packetNumber, IpPacket& out) {
  Expire(nowNs);
  const Key key{f.src, f.dst, f.protocol, f.fragmentId};
  auto it = pending_.find(key);
  if (it == pending_.end()) {
    if (pending_.size() >= limits_.maxPending) {
      // The oldest datagram gives way.
      auto oldest = std::min_element(pending_.begin(), pending_.end(), [](auto& a, auto& b) {
        return a.second.firstSeenNs < b.second.firstSeenNs;
      });
      Drop(oldest, FragmentFault::INCOMPLETE);
    }
    it = pending_.emplace(key, Datagram{}).first;
    it->second.firstSeenNs = nowNs;
    it->second.firstPacket = packetNumber;
  }
  Datagram& d = it->second;
  if (f.cut) {
    Drop(it, FragmentFault::CUT);
    return false;
  }
  const uint64_t begin = f.fragmentOffset;
  const uint64_t end = begin + f.payload.size();
  // Every fragment but the last carries a multiple of 8 bytes.
  if (end > limits_.maxDatagramBytes || (f.moreFragments && f.payload.size() % 8 != 0)) {
    Drop(it, end > limits_.maxDatagramBytes ? FragmentFault::TOO_LONG : FragmentFault::CONFLICT);
    return false;
  }
  if (!f.moreFragments) {
    if (d.total >= 0 && d.total != static_cast<int64_t>(end)) {
      Drop(it, FragmentFault::CONFLICT);
      return false;
    }
    d.total = static_cast<int64_t>(end);
  }
  if (d.total >= 0 && (end > static_cast<uint64_t>(d.total) ||
                       (!d.have.empty() && d.have.back().second > d.total))) {
    Drop(it, FragmentFault::CONFLICT);
    return false;
  }
  if (d.data.size() < end) d.data.resize(end);
  // Bytes already held must agree with the new copy (a retransmission may
  // repeat them; a different payload would be an attack or a broken sender).
  for (const auto& [hb, he] : d.have) {
    const uint64_t ob = std::max<uint64_t>(hb, begin), oe = std::min<uint64_t>(he, end);
    if (ob < oe && std::memcmp(d.data.data() + ob, f.payload.data() + (ob - begin), oe - ob) != 0) {
      Drop(it, FragmentFault::CONFLICT);
      return false;
    }
  }
  std::copy(f.payload.begin(), f.payload.end(), d.data.begin() + static_cast<ptrdiff_t>(begin));
  d.have.emplace_back(static_cast<uint32_t>(begin), static_cast<uint32_t>(end));
  std::sort(d.have.begin(), d.have.end());
  std::vector<std::pair<uint32_t, uint32_t>> merged;
  for (const auto& r : d.have) {
    if (!merged.empty() && r.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, r.second);
    } else {
      merged.push_back(r);
    }
  }
  d.have = std::move(merged);
  if (!Complete(d)) return false;

  whole_ = std::move(d.data);
  out = f;
  out.fragment = false;
  out.fragmentOffset = 0;
  out.moreFragments = false;
  out.payload = Bytes(whole_.data(), whole_.size());
  pending_.erase(it);
  if (out.src.family == 6 && !SkipIpv6Extensions(out.protocol, out.payload)) {
    drops_.push_back({FragmentFault::CONFLICT, packetNumber});
    return false;
  }
  return true;
}

void IpReassembler::Expire(int64_t nowNs) {
  for (auto it = pending_.begin(); it != pending_.end();) {
    auto next = std::next(it);
    if (nowNs - it->second.firstSeenNs > limits_.timeoutNs) Drop(it, FragmentFault::INCOMPLETE);
    it = next;
  }
}

void IpReassembler::Finish() {
  while (!pending_.empty()) Drop(pending_.begin(), FragmentFault::INCOMPLETE);
}

std::vector<FragmentDrop> IpReassembler::TakeDrops() {
  std::vector<FragmentDrop> d = std::move(drops_);
  drops_.clear();
  std::sort(d.begin(), d.end(), [](const FragmentDrop& a, const FragmentDrop& b) {
    return a.firstPacket < b.firstPacket;
  });
  return d;
}

}  // namespace zv::extract
