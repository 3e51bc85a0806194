#include "rtp_stats.h"

#include <algorithm>
#include <cmath>

namespace zv::extract {

namespace {
constexpr int PT_COMFORT_NOISE = 13;
}

int64_t RtpStreamStats::Expected() const {
  if (packets_ == 0) return 0;
  return cycles_ * 65536 + int64_t{lastSeq_} - int64_t{startSeq_} + 1;
}

double RtpStreamStats::MeanDeltaMs() const {
  return packets_ > 1 ? sumDeltaMs_ / static_cast<double>(packets_ - 1) : 0;
}

double RtpStreamStats::MeanJitterMs() const {
  return packets_ > 1 ? sumJitterMs_ / static_cast<double>(packets_ - 1) : 0;
}

int64_t RtpStreamStats::Missing() const {
  if (packets_ == 0) return 0;
  const int64_t span = windowTop_ - lowest_ + 1;
  return std::max<int64_t>(0, span - static_cast<int64_t>(packets_ - duplicates_));
}

int64_t RtpStreamStats::CountOrder(uint16_t seq) {
  const int64_t ext = unwrap_.Unwrap(seq);
  lowest_ = packets_ == 1 ? ext : std::min(lowest_, ext);
  if (packets_ == 1) {
    windowTop_ = ext;
    seen_.set(static_cast<size_t>(ext % WINDOW));
    return ext;
  }
  if (ext > windowTop_) {
    // Forget the numbers that slide out of the window.
    for (int64_t n = windowTop_ + 1; n <= ext && n - windowTop_ <= WINDOW; ++n) {
      seen_.reset(static_cast<size_t>(n % WINDOW));
    }
    if (ext - windowTop_ > WINDOW) seen_.reset();
    windowTop_ = ext;
    seen_.set(static_cast<size_t>(ext % WINDOW));
    return ext;
  }
  if (windowTop_ - ext < WINDOW && seen_.test(static_cast<size_t>(ext % WINDOW))) {
    ++duplicates_;
  } else {
    ++outOfOrder_;
    if (windowTop_ - ext < WINDOW) seen_.set(static_cast<size_t>(ext % WINDOW));
  }
  return ext;
}

int64_t RtpStreamStats::Add(int64_t arrivalNs, const RtpHeader& rtp, uint32_t clockRate) {
  ++packets_;
  lastNs_ = arrivalNs;
  const int64_t seq = CountOrder(rtp.seq);
  if (packets_ == 1) {
    firstNs_ = refNs_ = arrivalNs;
    startSeq_ = lastSeq_ = rtp.seq;
    startTs_ = refTs_ = rtp.timestamp;
    prevPayloadType_ = rtp.payloadType;
    return seq;
  }
  const bool beforeStart = static_cast<int32_t>(rtp.timestamp - startTs_) < 0;
  if (!beforeStart && !under_ &&
      (rtp.seq < startSeq_ || (startSeq_ == 0 && rtp.seq == 0 && lastSeq_ == 65535))) {
    ++cycles_;
    under_ = true;
  } else if (rtp.seq > startSeq_ && under_) {
    under_ = false;
  }
  lastSeq_ = rtp.seq;

  if (!beforeStart) {
    const double deltaMs = static_cast<double>(arrivalNs - refNs_) / 1e6;
    if (clockRate > 0) {
      const double rtpMs = static_cast<int32_t>(rtp.timestamp - refTs_) * 1000.0 / clockRate;
      jitterMs_ += (std::fabs(deltaMs - rtpMs) - jitterMs_) / 16.0;
    }
    refNs_ = arrivalNs;
    refTs_ = rtp.timestamp;
    const bool counted =
        !rtp.marker && rtp.payloadType != PT_COMFORT_NOISE && prevPayloadType_ != PT_COMFORT_NOISE;
    prevPayloadType_ = rtp.payloadType;
    if (counted) {
      lastDeltaMs_ = deltaMs;
      lastJitterMs_ = jitterMs_;
      maxDeltaMs_ = std::max(maxDeltaMs_, deltaMs);
      maxJitterMs_ = std::max(maxJitterMs_, jitterMs_);
    }
  }
  sumDeltaMs_ += lastDeltaMs_;
  sumJitterMs_ += lastJitterMs_;
  return seq;
}

}  // namespace zv::extract
