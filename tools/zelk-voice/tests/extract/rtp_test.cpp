// RTP headers, stream detection and the per-stream figures. The expected
// figures were measured with tshark 4.0.17 (`-z rtp,streams`) on captures built
// from the same packet lists.
#include <gtest/gtest.h>

#include <random>

#include "packet_builder.h"
#include "rtp_detector.h"
#include "rtp_stats.h"

using namespace zv::extract;
using namespace zvtest;

namespace {

TEST(RtpHeader, CsrcExtensionAndPadding) {
  // V=2 P=1 X=1 CC=2, M=1 PT=96, seq 0x1234, ts 0xDEADBEEF, SSRC 0x01020304.
  Buffer b{0xB2, 0xE0, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
  b.insert(b.end(), 8, 0xCC);                   // two CSRCs
  b.insert(b.end(), {0xBE, 0xDE, 0x00, 0x01});  // extension: one word follows
  b.insert(b.end(), 4, 0xEE);
  b.insert(b.end(), {'a', 'b', 'c', 0, 0, 3});  // payload "abc", 3 bytes of padding
  RtpHeader h;
  ASSERT_TRUE(ParseRtp(b, h));
  EXPECT_TRUE(h.marker);
  EXPECT_EQ(h.payloadType, 96);
  EXPECT_EQ(h.seq, 0x1234);
  EXPECT_EQ(h.timestamp, 0xDEADBEEFu);
  EXPECT_EQ(h.ssrc, 0x01020304u);
  EXPECT_EQ(std::string(h.payload.begin(), h.payload.end()), "abc");

  Buffer badPad = b;
  badPad.back() = 40;  // more padding than payload
  EXPECT_FALSE(ParseRtp(badPad, h));
  Buffer badExt = b;
  badExt[22] = 0x10;  // extension longer than the packet
  EXPECT_FALSE(ParseRtp(badExt, h));
  Buffer v1 = b;
  v1[0] = 0x40;
  EXPECT_FALSE(ParseRtp(v1, h));
  EXPECT_FALSE(ParseRtp(Buffer(11, 0x80), h));
}

TEST(RtpHeader, RtcpIsNotTakenForRtp) {
  // A sender report (PT 200) followed by an SDES (PT 202), as ffmpeg sends them.
  Buffer sr{0x80, 200, 0, 6};
  sr.resize(28, 0);
  Buffer sdes{0x81, 202, 0, 2, 1, 2, 3, 4, 1, 1, 'x', 0};
  const Buffer compound = Cat(sr, sdes);
  RtpHeader h;
  EXPECT_FALSE(ParseRtp(compound, h));
  EXPECT_TRUE(LooksLikeRtcp(compound));
  // Receiver report 201 and a transport feedback 205 with the marker pattern.
  EXPECT_FALSE(ParseRtp(Buffer{0x80, 201, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, h));
  EXPECT_FALSE(ParseRtp(Buffer{0x81, 205, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0}, h));
  EXPECT_FALSE(LooksLikeRtcp(Rtp(1, 2, 3, 0, false, Buffer(160))));
}

TEST(Unwrap, SequenceAndTimestampAcrossTheWrap) {
  SequenceUnwrapper s;
  const int64_t first = s.Unwrap(65534);
  EXPECT_EQ(s.Unwrap(65535) - first, 1);
  EXPECT_EQ(s.Unwrap(0) - first, 2);
  EXPECT_EQ(s.Unwrap(65533) - first, -1);  // late, from before the first
  EXPECT_EQ(s.Unwrap(3) - first, 5);
  EXPECT_EQ(s.Highest() - first, 5);
  TimestampUnwrapper t;
  const int64_t t0 = t.Unwrap(0xFFFFFF00u);
  EXPECT_EQ(t.Unwrap(0x00000060u) - t0, 0x160);
  EXPECT_EQ(t.Unwrap(0xFFFFFFA0u) - t0, 0xA0);
}

// ---- detection -----------------------------------------------------------

HeldPacket Held(uint64_t n, const Buffer& udp) {
  return {n, static_cast<int64_t>(n) * 20'000'000, false, udp};
}

StreamKey Key(uint32_t ssrc, uint16_t port = 5004) {
  return {{Ipv4Address(10, 0, 0, 1), port}, {Ipv4Address(10, 0, 0, 2), 6000}, ssrc};
}

TEST(Detector, FourConsistentPacketsMakeAStream) {
  RtpDetector d;
  std::vector<HeldPacket> confirmed;
  for (uint16_t i = 0; i < 4; ++i) {
    const Buffer pkt =
        Rtp(static_cast<uint16_t>(100 + i), 8000u * i / 50, 7, 0, false, Buffer(160));
    RtpHeader h;
    ASSERT_TRUE(ParseRtp(pkt, h));
    const bool now = d.Offer(Key(7), h, Held(i + 1u, pkt), false, confirmed);
    EXPECT_EQ(now, i == 3);
  }
  ASSERT_EQ(confirmed.size(), 4u);
  EXPECT_EQ(confirmed[0].number, 1u);  // every packet from the first is handed back
  EXPECT_EQ(confirmed[3].number, 4u);
  EXPECT_EQ(d.Flows(), 0u);
}

TEST(Detector, AnnouncedEndpointsNeedNoTrial) {
  RtpDetector d;
  std::vector<HeldPacket> confirmed;
  const Buffer pkt = Rtp(1, 0, 9, 8, true, Buffer(80));
  RtpHeader h;
  ASSERT_TRUE(ParseRtp(pkt, h));
  EXPECT_TRUE(d.Offer(Key(9), h, Held(1, pkt), true, confirmed));
  EXPECT_EQ(confirmed.size(), 1u);
}

TEST(Detector, ReorderingAndLossDuringTheTrialStillConfirm) {
  RtpDetector d;
  std::vector<HeldPacket> confirmed;
  const std::vector<uint16_t> seqs = {10, 12, 11, 15};
  for (size_t i = 0; i < seqs.size(); ++i) {
    const Buffer pkt = Rtp(seqs[i], seqs[i] * 160u, 5, 0, false, Buffer(160));
    RtpHeader h;
    ParseRtp(pkt, h);
    EXPECT_EQ(d.Offer(Key(5), h, Held(i + 1, pkt), false, confirmed), i == 3);
  }
}

TEST(Detector, RandomUdpNeverBecomesAStream) {
  // Datagrams of random bytes, even with the version bits forced to 2, from
  // 200 flows: none should look like a sender.
  std::mt19937 rng(12345);
  RtpDetector d;
  std::vector<HeldPacket> confirmed;
  int streams = 0;
  for (int i = 0; i < 200000; ++i) {
    Buffer pkt(static_cast<size_t>(12 + rng() % 200));
    for (uint8_t& x : pkt) x = static_cast<uint8_t>(rng());
    pkt[0] = static_cast<uint8_t>(0x80 | (pkt[0] & 0x3F));
    RtpHeader h;
    if (!ParseRtp(pkt, h)) continue;
    StreamKey k = Key(h.ssrc, static_cast<uint16_t>(1000 + rng() % 200));
    streams += d.Offer(k, h, Held(static_cast<uint64_t>(i), pkt), false, confirmed);
  }
  EXPECT_EQ(streams, 0);
  EXPECT_LE(d.Flows(), DetectorLimits{}.maxFlows);
}

TEST(Detector, InconsistentPacketsRestartTheTrial) {
  RtpDetector d;
  std::vector<HeldPacket> confirmed;
  auto offer = [&](uint16_t seq, uint32_t ts, uint8_t pt, uint64_t n) {
    const Buffer pkt = Rtp(seq, ts, 3, pt, false, Buffer(160));
    RtpHeader h;
    ParseRtp(pkt, h);
    return d.Offer(Key(3), h, Held(n, pkt), false, confirmed);
  };
  EXPECT_FALSE(offer(1, 0, 0, 1));
  EXPECT_FALSE(offer(2, 160, 0, 2));
  EXPECT_FALSE(offer(3, 320, 8, 3));  // another payload type: trial starts again
  EXPECT_FALSE(offer(4, 480, 8, 4));
  EXPECT_FALSE(offer(5000, 640, 8, 5));  // sequence far off
  EXPECT_FALSE(offer(5001, 800, 8, 6));
  EXPECT_FALSE(offer(5002, 800 + 900000, 8, 7));  // timestamp jumps by far more than a second
  EXPECT_FALSE(offer(5003, 900960, 8, 8));
  EXPECT_FALSE(offer(5004, 901120, 8, 9));
  EXPECT_TRUE(offer(5005, 901280, 8, 10));
  EXPECT_EQ(confirmed.size(), 4u);
  EXPECT_EQ(confirmed[0].number, 7u);
}

// ---- figures against tshark ----------------------------------------------

struct Pkt {
  double t;
  uint16_t seq;
  uint32_t ts;
  bool marker = false;
  uint8_t pt = 0;
};

RtpStreamStats Feed(const std::vector<Pkt>& pkts) {
  RtpStreamStats s;
  for (const Pkt& p : pkts) {
    RtpHeader h;
    h.seq = p.seq;
    h.timestamp = p.ts;
    h.marker = p.marker;
    h.payloadType = p.pt;
    s.Add(static_cast<int64_t>(p.t * 1e9 + 0.5), h, 8000);
  }
  return s;
}

struct TsharkCase {
  const char* name;
  std::vector<Pkt> pkts;
  uint64_t packets;
  int64_t lost;
  double maxDelta, meanDelta, meanJitter, maxJitter;  // ms, as tshark prints them
};

TEST(StreamStats, AgreeWithTshark) {
  const std::vector<TsharkCase> cases = {
      {"jittery",
       {{0, 1, 0}, {0.02, 2, 160}, {0.05, 3, 320}, {0.06, 4, 480}},
       4,
       0,
       30,
       20,
       0.612,
       1.211},
      {"loss", {{0, 1, 0}, {0.02, 2, 160}, {0.06, 4, 480}, {0.08, 5, 640}}, 4, 1, 40, 26.667, 0, 0},
      {"duplicate",
       {{0, 1, 0}, {0.02, 2, 160}, {0.021, 2, 160}, {0.04, 3, 320}, {0.06, 4, 480}},
       5,
       -1,
       20,
       15,
       0.074,
       0.121},
      {"reorder",
       {{0, 1, 0}, {0.02, 3, 320}, {0.021, 2, 160}, {0.04, 4, 480}, {0.06, 5, 640}},
       5,
       0,
       20,
       15,
       2.697,
       3.642},
      {"reorder at the end",
       {{0, 1, 0}, {0.02, 2, 160}, {0.04, 4, 480}, {0.05, 3, 320}},
       4,
       -1,
       20,
       16.667,
       1.432,
       3.047},
      {"wrap with loss",
       {{0, 65534, 0}, {0.02, 65535, 160}, {0.06, 1, 480}, {0.08, 2, 640}},
       4,
       1,
       40,
       26.667,
       0,
       0},
      {"marker",
       {{0, 1, 0}, {0.02, 2, 160}, {0.5, 3, 8000, true}, {0.52, 4, 8160}},
       4,
       0,
       20,
       20,
       9.766,
       29.297},
      {"marker after jitter",
       {{0, 1, 0}, {0.03, 2, 160}, {0.5, 3, 8000, true}, {0.52, 4, 8160}},
       4,
       0,
       30,
       26.667,
       10.561,
       30.432},
      {"first is not the lowest",
       {{0, 2, 160}, {0.001, 1, 0}, {0.02, 3, 320}, {0.04, 4, 480}},
       4,
       -1,
       20,
       13.333,
       0,
       0},
      {"from before the start",
       {{0, 2, 160}, {0.1, 1, 0}, {0.12, 3, 320}, {0.14, 4, 480}},
       4,
       -1,
       120,
       46.667,
       4.036,
       6.25},
      {"late at the end",
       {{0, 2, 160}, {0.02, 3, 320}, {0.04, 4, 480}, {0.1, 1, 0}, {0.12, 5, 640}},
       5,
       -1,
       80,
       35,
       0.938,
       3.75},
      {"backward jump",
       {{0, 5000, 0}, {0.02, 5001, 160}, {0.04, 2, 320}, {0.06, 3, 480}},
       4,
       60536,
       20,
       20,
       0,
       0},
      {"forward jump",
       {{0, 1, 0}, {0.02, 2, 160}, {0.04, 3003, 320}, {0.06, 3004, 480}},
       4,
       3000,
       20,
       20,
       0,
       0},
      {"timestamp jump",
       {{0, 1, 0}, {0.02, 2, 160}, {0.04, 3, 80000}, {0.06, 4, 80160}},
       4,
       0,
       20,
       20,
       402.031,
       622.5},
      {"comfort noise",
       {{0, 1, 0},
        {0.02, 2, 160, false, 13},
        {0.05, 3, 320},
        {0.06, 4, 480},
        {0.08, 5, 640},
        {0.11, 6, 800}},
       6,
       0,
       30,
       12,
       0.807,
       1.689},
      {"payload type change",
       {{0, 1, 0},
        {0.02, 2, 160, false, 8},
        {0.05, 3, 320, false, 8},
        {0.06, 4, 480},
        {0.08, 5, 640}},
       5,
       0,
       30,
       20,
       0.743,
       1.211},
      {"timestamp wrap",
       {{0, 1, 4294966976u}, {0.02, 2, 4294967136u}, {0.05, 3, 0}, {0.06, 4, 160}, {0.08, 5, 320}},
       5,
       0,
       30,
       20,
       0.743,
       1.211},
  };
  for (const TsharkCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RtpStreamStats s = Feed(c.pkts);
    EXPECT_EQ(s.Packets(), c.packets);
    EXPECT_EQ(s.Lost(), c.lost);
    EXPECT_NEAR(s.MaxDeltaMs(), c.maxDelta, 0.0005);
    EXPECT_NEAR(s.MeanDeltaMs(), c.meanDelta, 0.0005);
    EXPECT_NEAR(s.MeanJitterMs(), c.meanJitter, 0.0006);
    EXPECT_NEAR(s.MaxJitterMs(), c.maxJitter, 0.0006);
  }
}

// Lost for sequence lists sent 20 ms apart with timestamps rising 160 a packet
// (or as given), as tshark counts it.
TEST(StreamStats, LostAndSequenceCyclesAgreeWithTshark) {
  struct Case {
    std::vector<uint16_t> seqs;
    std::vector<uint32_t> ts;  // empty: 160 * index
    int64_t lost;
  };
  const std::vector<Case> cases = {
      {{65000, 65535, 64000, 1}, {}, 534},
      {{100, 99, 98, 101}, {}, 65534},
      {{100, 50, 101, 49}, {}, 131018},
      {{65530, 0, 65535, 1}, {}, 65540},
      {{2, 1, 3, 4}, {}, 65535},
      {{10000, 10001, 9999, 10002}, {}, 65535},
      {{10000, 40000, 10001, 10002}, {}, -1},
      {{0, 65535, 0, 1}, {}, 65534},
      {{10, 11, 9, 12}, {1600, 1760, 1500, 1920}, -1},
      {{10, 11, 9, 12}, {1600, 1760, 1700, 1920}, 65535},
      {{10, 11, 9, 12}, {1600, 1760, 4000000000u, 1920}, -1},
      {{10, 11, 9, 12}, {4000000000u, 4000000160u, 100, 4000000320u}, 65535},
      {{0, 65535, 0, 1}, {1000, 1160, 500, 1480}, -2},
      {{2, 3, 4, 1}, {160, 320, 480, 0}, -4},
  };
  for (const Case& c : cases) {
    std::vector<Pkt> pkts;
    for (size_t i = 0; i < c.seqs.size(); ++i) {
      pkts.push_back({0.02 * static_cast<double>(i), c.seqs[i],
                      c.ts.empty() ? static_cast<uint32_t>(160 * i) : c.ts[i]});
    }
    EXPECT_EQ(Feed(pkts).Lost(), c.lost) << ::testing::PrintToString(c.seqs);
  }
  // 140000 packets in order: two wraps, nothing lost.
  std::vector<Pkt> longStream;
  for (uint32_t i = 0; i < 140000; ++i) {
    longStream.push_back({0.02 * i, static_cast<uint16_t>((100 + i) & 0xFFFF), 160 * i});
  }
  const RtpStreamStats s = Feed(longStream);
  EXPECT_EQ(s.Packets(), 140000u);
  EXPECT_EQ(s.Lost(), 0);
}

TEST(StreamStats, DuplicatesAndOutOfOrderAreCountedApart) {
  // 1 2 2 4 3 5 5 3: two duplicates of 2 and 5, 3 late once then again (a duplicate).
  const RtpStreamStats s = Feed({{0, 1, 0},
                                 {0.02, 2, 160},
                                 {0.03, 2, 160},
                                 {0.04, 4, 480},
                                 {0.05, 3, 320},
                                 {0.06, 5, 640},
                                 {0.07, 5, 640},
                                 {0.08, 3, 320}});
  EXPECT_EQ(s.Duplicates(), 3u);
  EXPECT_EQ(s.OutOfOrder(), 1u);
  EXPECT_EQ(s.Missing(), 0);
  EXPECT_EQ(s.Lost(), -5);  // tshark says so: it counts from the last sequence number
  // The pattern that makes tshark count a cycle: 65534 late across the wrap.
  const RtpStreamStats t = Feed({{0, 65533, 0},
                                 {0.02, 65535, 320},
                                 {0.03, 0, 480},
                                 {0.04, 65534, 160},
                                 {0.05, 1, 640},
                                 {0.06, 3, 960}});
  EXPECT_EQ(t.Missing(), 1);
  EXPECT_EQ(t.Lost(), 65537);
  // Across the wrap, and far back (outside the remembered window: out of order).
  const RtpStreamStats w = Feed({{0, 65535, 0},
                                 {0.02, 0, 160},
                                 {0.03, 65535, 0},
                                 {0.04, 1, 320},
                                 {0.05, 3000, 320},
                                 {0.06, 1, 320}});
  EXPECT_EQ(w.Duplicates(), 1u);
  EXPECT_EQ(w.OutOfOrder(), 1u);
}

}  // namespace
