// Playout: order, placement by timestamp, loss against silence, the window.
// Expected time lines worked out by hand from the packet lists.
#include "playout.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>

using namespace zv::extract;

namespace {

// Records the time line as text: "P<seq>" played (with "+skip"), "C<n>"
// concealed, "S<n>" silence.
class Recorder : public PlayoutSink {
 public:
  bool Play(const PlayoutPacket& p, long skip) override {
    // (fmt, not string +: GCC 12 at -O3 warns falsely about the latter)
    log += skip ? fmt::format(" P{}+{}", p.seq, skip) : fmt::format(" P{}", p.seq);
    return !refuse;
  }
  void Conceal(int64_t n) override { log += fmt::format(" C{}", n); }
  void Silence(int64_t n) override { log += fmt::format(" S{}", n); }
  std::string log;
  bool refuse = false;
};

constexpr int64_t MS = 1'000'000;

PlayoutPacket Speech(int64_t seq, int64_t ts, int64_t arrivalMs, long samples = 160) {
  PlayoutPacket p;
  p.seq = seq;
  p.ts = ts;
  p.arrivalNs = arrivalMs * MS;
  p.kind = PayloadKind::PCMU;
  p.samples = samples;
  return p;
}

// Packets of 160 samples every 20 ms, arriving on time.
PlayoutPacket OnTime(int64_t seq) { return Speech(seq, seq * 160, seq * 20); }

std::string Timeline(std::vector<PlayoutPacket> packets, PlayoutCounts* counts = nullptr) {
  Recorder r;
  Playout p(r);
  for (auto& pkt : packets) p.Push(std::move(pkt));
  p.Flush();
  if (counts) *counts = p.Counts();
  return r.log;
}

TEST(Playout, InOrderPacketsPlayBackToBack) {
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), OnTime(2)}, &c), " P0 P1 P2");
  EXPECT_EQ(c.played, 480);
}

TEST(Playout, MissingSequenceNumbersAreConcealed) {
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), OnTime(4), OnTime(5)}, &c), " P0 P1 C320 P4 P5");
  EXPECT_EQ(c.concealed, 320);
}

TEST(Playout, ATimestampGapWithoutLossIsSilence) {
  // Silence suppression: the next talkspurt starts 1 s later (its timestamp says so).
  auto resumed = Speech(2, 320 + 8000, 1040);
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), resumed}, &c), " P0 P1 S8000 P2");
  EXPECT_EQ(c.silence, 8000);
  // A loss just before the silence: the lost packet's time is concealed, the rest is silence.
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), Speech(3, 480 + 8000, 1060)}), " P0 P1 C160 S8000 P3");
}

TEST(Playout, ReorderingInsideTheWindowIsRepaired) {
  auto two = OnTime(2);
  two.arrivalNs = 95 * MS;  // 55 ms late: after 3 and 4, inside the 100 ms window
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), OnTime(3), OnTime(4), two, OnTime(5)}, &c),
            " P0 P1 P2 P3 P4 P5");
  EXPECT_EQ(c.late, 0u);
}

TEST(Playout, APacketLaterThanTheWindowIsDroppedAndItsTimeConcealed) {
  std::vector<PlayoutPacket> packets;
  for (int64_t s = 0; s < 12; ++s) {
    if (s != 2) packets.push_back(OnTime(s));
    if (s == 9) packets.push_back(Speech(2, 320, 180));  // 140 ms late
  }
  PlayoutCounts c;
  EXPECT_EQ(Timeline(packets, &c), " P0 P1 C160 P3 P4 P5 P6 P7 P8 P9 P10 P11");
  EXPECT_EQ(c.late, 1u);
}

TEST(Playout, DuplicatesPlayOnce) {
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), OnTime(1), OnTime(2)}, &c), " P0 P1 P2");
  EXPECT_EQ(c.duplicates, 1u);
}

TEST(Playout, TheBufferIsBounded) {
  // Everything arrives at once: the buffer plays from its lowest packet once
  // it holds more than its limit, and nothing is lost.
  std::vector<PlayoutPacket> packets;
  for (int64_t s = 0; s < 1000; ++s) packets.push_back(Speech(s, s * 160, 0));
  Recorder r;
  Playout p(r);
  for (auto& pkt : packets) {
    p.Push(std::move(pkt));
    ASSERT_LE(p.Samples(), 1000 * 160);
  }
  EXPECT_EQ(p.Counts().played, (1000 - static_cast<int64_t>(MAX_BUFFERED_PACKETS)) * 160);
  p.Flush();
  EXPECT_EQ(p.Counts().played, 1000 * 160);
  EXPECT_EQ(p.Counts().concealed, 0);
}

TEST(Playout, TimestampJumpsFollowTheCaptureClock) {
  // A sender restarting its clock: 10 minutes forward, then backwards, 20 ms
  // after the packet before each time (the capture says no time passed).
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), Speech(2, 4'800'000, 40), Speech(3, 4'800'160, 60),
                      Speech(4, 1000, 80), Speech(5, 1160, 100)},
                     &c),
            " P0 P1 P2 P3 P4 P5");
  EXPECT_EQ(c.clockJumps, 2u);
  EXPECT_EQ(c.silence, 0);
  // The same jump after 3 s of real silence: 3 s of silence, not 10 minutes.
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), Speech(2, 4'800'000, 3040)}), " P0 P1 S24000 P2");
}

TEST(Playout, OverlapPlaysOnlyWhatIsNew) {
  // 160-sample packets with timestamps 100 apart: each overlaps the last by 60.
  EXPECT_EQ(Timeline({Speech(0, 0, 0), Speech(1, 100, 20), Speech(2, 200, 40)}), " P0 P1+60 P2+60");
}

TEST(Playout, ComfortNoiseAndEventsTakeNoTimeOfTheirOwn) {
  PlayoutPacket cn = Speech(2, 320, 40, 0);
  cn.kind = PayloadKind::COMFORT_NOISE;
  PlayoutPacket ev = Speech(3, 320, 60, 0);
  ev.kind = PayloadKind::EVENT;
  PlayoutCounts c;
  EXPECT_EQ(Timeline({OnTime(0), OnTime(1), cn, ev, Speech(4, 320 + 4000, 540)}, &c),
            " P0 P1 S4000 P4");
  EXPECT_EQ(c.concealed, 0);
}

TEST(Playout, UndecodablePacketsAreConcealed) {
  // A payload the sink refuses, and one whose size fits no frame (0 samples).
  Recorder r;
  r.refuse = true;
  Playout p(r);
  p.Push(OnTime(0));
  p.Flush();
  EXPECT_EQ(r.log, " P0 C160");
  PlayoutPacket bad = OnTime(1);
  bad.samples = 0;
  EXPECT_EQ(Timeline({OnTime(0), bad, OnTime(2)}), " P0 C160 P2");
}

TEST(Playout, StartsAtTheFirstPacketsArrival) {
  Recorder r;
  Playout p(r);
  p.Push(Speech(7, 1120, 5000));
  p.Flush();
  EXPECT_TRUE(p.Started());
  EXPECT_EQ(p.StartNs(), 5000 * MS);
}

}  // namespace
