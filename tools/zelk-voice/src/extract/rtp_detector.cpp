#include "rtp_detector.h"

#include <algorithm>
#include <cstdlib>

namespace zv::extract {

namespace {
constexpr int MAX_SEQUENCE_STEP = 16;          // packets lost or reordered between two in a row
constexpr int64_t MAX_TICKS_PER_STEP = 48000;  // a second of a 48 kHz clock per packet
}  // namespace

bool RtpDetector::Consistent(const RtpHeader& before, const RtpHeader& now) {
  if (now.payloadType != before.payloadType) return false;
  const int steps = static_cast<int16_t>(static_cast<uint16_t>(now.seq - before.seq));
  const int64_t ticks = static_cast<int32_t>(now.timestamp - before.timestamp);
  if (steps == 0) return ticks == 0;  // a duplicate
  if (std::abs(steps) > MAX_SEQUENCE_STEP) return false;
  // Timestamps move the way the sequence numbers do (or stand still, as the
  // packets of one video frame do), by no more than a second a packet.
  if (ticks != 0 && (ticks > 0) != (steps > 0)) return false;
  return std::abs(ticks) <= MAX_TICKS_PER_STEP * std::abs(steps);
}

void RtpDetector::Forget(std::map<StreamKey, Trial>::iterator it) {
  heldBytes_ -= it->second.bytes;
  flows_.erase(it);
}

bool RtpDetector::Offer(const StreamKey& key, const RtpHeader& rtp, HeldPacket packet,
                        bool announced, std::vector<HeldPacket>& confirmed) {
  confirmed.clear();
  auto it = flows_.find(key);
  if (it != flows_.end() && !Consistent(it->second.last, rtp)) {
    Forget(it);  // start the trial again from this packet
    it = flows_.end();
  }
  if (announced || limits_.confirmPackets <= 1 ||
      (it != flows_.end() && it->second.held.size() + 1 >= limits_.confirmPackets)) {
    if (it != flows_.end()) {
      confirmed = std::move(it->second.held);
      Forget(it);
    }
    confirmed.push_back(std::move(packet));
    return true;
  }
  if (it == flows_.end()) {
    while (!flows_.empty() && (flows_.size() >= limits_.maxFlows ||
                               heldBytes_ + packet.udpPayload.size() > limits_.maxHeldBytes)) {
      Forget(std::min_element(flows_.begin(), flows_.end(),
                              [](auto& a, auto& b) { return a.second.lastNs < b.second.lastNs; }));
    }
    it = flows_.emplace(key, Trial{}).first;
  }
  Trial& t = it->second;
  t.last = rtp;
  t.last.payload = {};
  t.lastNs = packet.timeNs;
  t.bytes += packet.udpPayload.size();
  heldBytes_ += packet.udpPayload.size();
  t.held.push_back(std::move(packet));
  return false;
}

void RtpDetector::Expire(int64_t nowNs) {
  for (auto it = flows_.begin(); it != flows_.end();) {
    auto next = std::next(it);
    if (nowNs - it->second.lastNs > limits_.trialTimeoutNs) Forget(it);
    it = next;
  }
}

}  // namespace zv::extract
