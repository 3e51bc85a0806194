// Fragment reassembly: whole datagrams only, in any arrival order, and every
// datagram that cannot be completed is dropped and reported.
#include "ip_reassembly.h"

#include <gtest/gtest.h>

#include <numeric>

#include "packet_builder.h"

using namespace zv::extract;
using namespace zvtest;

namespace {

const V4 A{10, 0, 0, 1};
const V4 B{10, 0, 0, 2};

// A UDP datagram of `n` payload bytes counting up from 0, cut into IPv4 fragments
// of `piece` bytes (a multiple of 8).
std::vector<Buffer> Fragments(size_t n, size_t piece, uint16_t id) {
  Buffer payload(n);
  std::iota(payload.begin(), payload.end(), uint8_t{0});
  const Buffer udp = Udp(4000, 5000, payload);
  std::vector<Buffer> out;
  for (size_t at = 0; at < udp.size(); at += piece) {
    const size_t len = std::min(piece, udp.size() - at);
    const bool more = at + len < udp.size();
    const Buffer part(udp.begin() + static_cast<ptrdiff_t>(at),
                      udp.begin() + static_cast<ptrdiff_t>(at + len));
    out.push_back(Ipv4(A, B, 17, part, id, static_cast<uint16_t>((more ? 0x2000 : 0) | (at / 8))));
  }
  return out;
}

IpPacket Parse(const Buffer& b) {
  IpPacket p;
  EXPECT_EQ(ParseIp({Network::IPV4, b}, p), IpParse::OK);
  return p;
}

bool AddAll(IpReassembler& r, const std::vector<Buffer>& frags, const std::vector<size_t>& order,
            IpPacket& out) {
  bool done = false;
  for (size_t k = 0; k < order.size(); ++k) {
    EXPECT_FALSE(done) << "completed before the last fragment";
    done = r.Add(Parse(frags[order[k]]), 0, k + 1, out);
  }
  return done;
}

void ExpectWholeDatagram(const IpPacket& out, size_t n) {
  UdpDatagram u;
  ASSERT_TRUE(ParseUdp(out.payload, u));
  EXPECT_FALSE(u.cut);
  ASSERT_EQ(u.payload.size(), n);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(u.payload[i], static_cast<uint8_t>(i)) << i;
}

TEST(Reassembly, AnyOrderGivesTheWholeDatagram) {
  const auto frags = Fragments(3000, 1480, 7);  // 3008 bytes of UDP: three fragments
  ASSERT_EQ(frags.size(), 3u);
  for (const std::vector<size_t>& order :
       {std::vector<size_t>{0, 1, 2}, {2, 1, 0}, {1, 2, 0}, {2, 0, 1}}) {
    IpReassembler r;
    IpPacket out;
    ASSERT_TRUE(AddAll(r, frags, order, out));
    ExpectWholeDatagram(out, 3000);
    EXPECT_EQ(r.Pending(), 0u);
    EXPECT_TRUE(r.TakeDrops().empty());
  }
}

TEST(Reassembly, RepeatedFragmentsAreHarmless) {
  const auto frags = Fragments(2000, 1000, 8);
  IpReassembler r;
  IpPacket out;
  EXPECT_FALSE(r.Add(Parse(frags[0]), 0, 1, out));
  EXPECT_FALSE(r.Add(Parse(frags[0]), 0, 2, out));
  EXPECT_FALSE(r.Add(Parse(frags[2]), 0, 3, out));
  ASSERT_TRUE(r.Add(Parse(frags[1]), 0, 4, out));
  ExpectWholeDatagram(out, 2000);
}

TEST(Reassembly, ConflictingOverlapIsDroppedAndReported) {
  auto frags = Fragments(2000, 1000, 9);
  Buffer changed = frags[0];
  changed.back() ^= 0xFF;
  IpReassembler r;
  IpPacket out;
  EXPECT_FALSE(r.Add(Parse(frags[0]), 0, 5, out));
  EXPECT_FALSE(r.Add(Parse(changed), 0, 6, out));
  const auto drops = r.TakeDrops();
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].fault, FragmentFault::CONFLICT);
  EXPECT_EQ(drops[0].firstPacket, 5u);
  // What follows of that datagram starts a new one that never completes.
  EXPECT_FALSE(r.Add(Parse(frags[1]), 0, 7, out));
  EXPECT_FALSE(r.Add(Parse(frags[2]), 0, 8, out));
  r.Finish();
  ASSERT_EQ(r.TakeDrops().size(), 1u);
}

TEST(Reassembly, MissingFragmentTimesOut) {
  const auto frags = Fragments(2000, 1000, 10);
  IpReassembler r(ReassemblyLimits{16, 1'000'000'000, 65535});
  IpPacket out;
  EXPECT_FALSE(r.Add(Parse(frags[0]), 0, 3, out));
  EXPECT_FALSE(r.Add(Parse(frags[2]), 500'000'000, 4, out));
  r.Expire(1'000'000'000);
  EXPECT_EQ(r.Pending(), 1u);  // exactly the timeout: still waiting
  r.Expire(1'000'000'001);
  EXPECT_EQ(r.Pending(), 0u);
  const auto drops = r.TakeDrops();
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].fault, FragmentFault::INCOMPLETE);
  EXPECT_EQ(drops[0].firstPacket, 3u);
  // The late middle fragment cannot complete anything.
  EXPECT_FALSE(r.Add(Parse(frags[1]), 1'100'000'000, 5, out));
}

TEST(Reassembly, PendingDatagramsAreBounded) {
  IpReassembler r(ReassemblyLimits{4, 30'000'000'000, 65535});
  IpPacket out;
  for (uint16_t id = 0; id < 10; ++id) {
    EXPECT_FALSE(r.Add(Parse(Fragments(2000, 1000, id)[0]), id, id + 1u, out));
    EXPECT_LE(r.Pending(), 4u);
  }
  EXPECT_EQ(r.TakeDrops().size(), 6u);
  // The newest ones survived and complete.
  const auto last = Fragments(2000, 1000, 9);
  EXPECT_FALSE(r.Add(Parse(last[1]), 20, 20, out));
  EXPECT_TRUE(r.Add(Parse(last[2]), 21, 21, out));
}

TEST(Reassembly, OversizeShortCapturedAndOddLengthFragmentsAreDropped) {
  IpReassembler r(ReassemblyLimits{16, 30'000'000'000, 4000});
  IpPacket out;
  const auto big = Fragments(6000, 1480, 1);
  for (size_t i = 0; i < big.size(); ++i) r.Add(Parse(big[i]), 0, i + 1, out);
  auto drops = r.TakeDrops();
  ASSERT_FALSE(drops.empty());
  EXPECT_EQ(drops[0].fault, FragmentFault::TOO_LONG);
  r.Finish();
  r.TakeDrops();

  const auto frags = Fragments(2000, 1000, 2);
  IpPacket cut = Parse(frags[1]);
  cut.cut = true;
  EXPECT_FALSE(r.Add(cut, 0, 1, out));
  drops = r.TakeDrops();
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].fault, FragmentFault::CUT);

  IpPacket odd = Parse(frags[0]);
  odd.payload = odd.payload.first(999);  // not a multiple of 8, yet more follow
  EXPECT_FALSE(r.Add(odd, 0, 2, out));
  drops = r.TakeDrops();
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].fault, FragmentFault::CONFLICT);
}

TEST(Reassembly, Ipv6FragmentsWithOptionsAfterTheFragmentHeader) {
  const V6 s = Ip6(0x2001, 1), d = Ip6(0x2001, 2);
  Buffer payload(1500);
  std::iota(payload.begin(), payload.end(), uint8_t{0});
  // Destination options (8 bytes) then UDP form the fragmentable part.
  const Buffer part = Cat(Buffer{17, 0, 1, 4, 0, 0, 0, 0}, Udp(1, 2, payload));
  IpReassembler r;
  IpPacket out;
  const size_t cutAt = 1000;
  const Buffer head(part.begin(), part.begin() + cutAt), tail(part.begin() + cutAt, part.end());
  IpPacket p;
  // The packets outlive the views that parsing takes of them.
  const Buffer second = Ipv6(s, d, 44, Ipv6Fragment(60, cutAt, false, 77, tail));
  const Buffer first = Ipv6(s, d, 44, Ipv6Fragment(60, 0, true, 77, head));
  ASSERT_EQ(ParseIp({Network::IPV6, second}, p), IpParse::OK);
  EXPECT_FALSE(r.Add(p, 0, 1, out));
  ASSERT_EQ(ParseIp({Network::IPV6, first}, p), IpParse::OK);
  ASSERT_TRUE(r.Add(p, 0, 2, out));
  EXPECT_EQ(out.protocol, PROTO_UDP);
  ExpectWholeDatagram(out, 1500);
}

}  // namespace
