#include "playout.h"

#include <algorithm>

namespace zv::extract {

void Playout::Push(PlayoutPacket p) {
  latestNs_ = std::max(latestNs_, p.arrivalNs);
  if (started_ && p.seq < nextSeq_) {
    ++counts_.late;
  } else if (!buffer_.try_emplace(p.seq, std::move(p)).second) {
    ++counts_.duplicates;
  }
  Release(latestNs_);
}

void Playout::Flush() { Release(INT64_MAX); }

void Playout::Release(int64_t nowNs) {
  while (!buffer_.empty()) {
    if (buffer_.size() > MAX_BUFFERED_PACKETS) {
      Place(buffer_.begin()->second);
      buffer_.erase(buffer_.begin());
      continue;
    }
    // The packet that has waited longest decides; everything before it in
    // sequence order goes with it.
    auto oldest = std::min_element(buffer_.begin(), buffer_.end(), [](auto& a, auto& b) {
      return a.second.arrivalNs < b.second.arrivalNs;
    });
    if (nowNs != INT64_MAX && nowNs - oldest->second.arrivalNs < PLAYOUT_WINDOW_NS) return;
    const int64_t upTo = oldest->first;
    while (!buffer_.empty() && buffer_.begin()->first <= upTo) {
      Place(buffer_.begin()->second);
      buffer_.erase(buffer_.begin());
    }
  }
}

void Playout::Place(const PlayoutPacket& p) {
  if (!started_) {
    started_ = true;
    startNs_ = p.arrivalNs;
    nextSeq_ = p.seq;
    nextTs_ = p.ts;
    lastArrivalNs_ = p.arrivalNs;
  }
  const bool speech = IsSpeech(p.kind) && p.samples > 0;
  const int64_t missing = p.seq - nextSeq_ + static_cast<int64_t>(unplayable_);
  const int64_t gap = p.ts - nextTs_;
  nextSeq_ = p.seq + 1;
  if (!speech && gap <= 0) {
    // Comfort noise, events or a payload nobody can decode, at or before the
    // current position: it takes no time of its own.
    if (IsSpeech(p.kind)) ++unplayable_;
    lastArrivalNs_ = p.arrivalNs;
    return;
  }
  // What the capture clock says has passed since the last packet ended.
  const int64_t elapsed = std::max<int64_t>(
      0, (p.arrivalNs - lastArrivalNs_) * PLAYOUT_RATE / 1'000'000'000 - lastSamples_);
  lastArrivalNs_ = p.arrivalNs;
  int64_t fill = gap;
  long skip = 0;
  if (gap < 0 && speech && -gap < p.samples) {
    fill = 0;
    skip = static_cast<long>(-gap);  // overlaps what was played
  } else if (gap < 0 || gap > elapsed + PLAYOUT_RATE) {
    ++counts_.clockJumps;  // the sender's clock restarted: trust the capture's
    fill = elapsed;
  }
  const int64_t lost = missing > 0 ? std::min(fill, missing * lastSamples_) : 0;
  if (lost > 0) {
    sink_.Conceal(lost);
    counts_.concealed += lost;
  }
  if (fill > lost) {
    sink_.Silence(fill - lost);
    counts_.silence += fill - lost;
  }
  nextTs_ = p.ts + skip;
  if (!speech) {
    if (IsSpeech(p.kind)) ++unplayable_;
    return;
  }
  unplayable_ = 0;
  const long played = p.samples - skip;
  if (sink_.Play(p, skip)) {
    counts_.played += played;
  } else {
    sink_.Conceal(played);
    counts_.concealed += played;
  }
  nextTs_ += played;
  lastSamples_ = p.samples;
}

}  // namespace zv::extract
