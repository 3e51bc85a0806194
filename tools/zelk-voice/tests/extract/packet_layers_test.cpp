// Link layers, IP and UDP/TCP taken apart from frames built byte by byte.
#include "packet_layers.h"

#include <gtest/gtest.h>

#include "packet_builder.h"

using namespace zv::extract;
using namespace zvtest;

namespace {

const V4 A{192, 0, 2, 1};
const V4 B{198, 51, 100, 7};

// The UDP payload of a frame, or "" with `why` set when it did not parse.
std::string UdpText(int link, const Buffer& frame, std::string* why = nullptr) {
  const NetworkBytes n = StripLinkLayer(link, frame);
  IpPacket ip;
  if (ParseIp(n, ip) != IpParse::OK) {
    if (why) *why = "ip";
    return "";
  }
  UdpDatagram u;
  if (ip.protocol != PROTO_UDP || !ParseUdp(ip.payload, u)) {
    if (why) *why = "udp";
    return "";
  }
  return std::string(u.payload.begin(), u.payload.end());
}

Buffer UdpV4(const std::string& text) { return Ipv4(A, B, 17, Udp(1000, 2000, Text(text))); }

TEST(LinkLayers, EveryLinkTypeYieldsTheSameDatagram) {
  const Buffer ip = UdpV4("hello");
  Buffer sll{0, 0, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0, 0x08, 0x00};  // v1: protocol at 14
  Buffer sll2{0x08, 0x00, 0, 0, 0, 0, 0, 2, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0};
  Buffer nullLe{2, 0, 0, 0}, nullBe{0, 0, 0, 2}, loop{0, 0, 0, 2};
  EXPECT_EQ(UdpText(LINK_ETHERNET, Ethernet(0x0800, ip)), "hello");
  EXPECT_EQ(UdpText(LINK_LINUX_SLL, Cat(sll, ip)), "hello");
  EXPECT_EQ(UdpText(LINK_LINUX_SLL2, Cat(sll2, ip)), "hello");
  EXPECT_EQ(UdpText(LINK_NULL, Cat(nullLe, ip)), "hello");  // written on a little-endian host
  EXPECT_EQ(UdpText(LINK_NULL, Cat(nullBe, ip)), "hello");  // and on a big-endian one
  EXPECT_EQ(UdpText(LINK_LOOP, Cat(loop, ip)), "hello");
  for (int raw : {LINK_RAW, LINK_RAW_OPENBSD, LINK_RAW_FILE, LINK_IPV4}) {
    EXPECT_EQ(UdpText(raw, ip), "hello") << raw;
  }
}

TEST(LinkLayers, VlanTagsAndQinQ) {
  const Buffer ip = UdpV4("tagged");
  EXPECT_EQ(UdpText(LINK_ETHERNET, Ethernet(0x0800, ip, {100})), "tagged");
  EXPECT_EQ(UdpText(LINK_ETHERNET, Ethernet(0x0800, ip, {100, 200})), "tagged");
  // A tag inside a cooked capture: SLL v1 protocol 0x8100, then TCI and the inner type.
  Buffer sll{0, 0, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0, 0x81, 0x00, 0x00, 0x64, 0x08, 0x00};
  EXPECT_EQ(UdpText(LINK_LINUX_SLL, Cat(sll, ip)), "tagged");
  Buffer sll2{0x81, 0x00, 0, 0, 0, 0, 0, 2, 0,    1,    0,    6,
              2,    0,    0, 0, 0, 1, 0, 0, 0x00, 0x64, 0x08, 0x00};
  EXPECT_EQ(UdpText(LINK_LINUX_SLL2, Cat(sll2, ip)), "tagged");
}

TEST(LinkLayers, NonIpAndShortFramesAreNotIp) {
  EXPECT_EQ(StripLinkLayer(LINK_ETHERNET, Ethernet(0x0806, Buffer(28))).network, Network::OTHER);
  EXPECT_EQ(StripLinkLayer(LINK_ETHERNET, Buffer(13)).network, Network::OTHER);
  EXPECT_EQ(StripLinkLayer(LINK_NULL, Buffer{7, 0, 0, 0, 0x45}).network, Network::OTHER);
  EXPECT_EQ(StripLinkLayer(LINK_RAW, Buffer{0x55}).network, Network::OTHER);
  EXPECT_EQ(StripLinkLayer(LINK_LINUX_SLL2, Buffer(19)).network, Network::OTHER);
  EXPECT_EQ(StripLinkLayer(147, UdpV4("x")).network, Network::OTHER);
  EXPECT_FALSE(LinkTypeSupported(147));
  EXPECT_TRUE(LinkTypeSupported(LINK_LINUX_SLL2));
}

TEST(Ipv4, PaddingIsTrimmedAndShortCapturesAreMarked) {
  Buffer frame = Ethernet(0x0800, UdpV4("ab"));
  frame.resize(60, 0xEE);  // Ethernet minimum frame: padding after the datagram
  EXPECT_EQ(UdpText(LINK_ETHERNET, frame), "ab");

  const Buffer ip = UdpV4("0123456789");
  IpPacket p;
  ASSERT_EQ(ParseIp({Network::IPV4, Bytes(ip).first(ip.size() - 4)}, p), IpParse::OK);
  EXPECT_TRUE(p.cut);
  UdpDatagram u;
  ASSERT_TRUE(ParseUdp(p.payload, u));
  EXPECT_TRUE(u.cut);
  EXPECT_EQ(u.payload.size(), 6u);
}

TEST(Ipv4, MalformedHeadersAreRefused) {
  Buffer ip = UdpV4("x");
  IpPacket p;
  Buffer badIhl = ip;
  badIhl[0] = 0x44;
  EXPECT_EQ(ParseIp({Network::IPV4, badIhl}, p), IpParse::MALFORMED);
  Buffer badTotal = ip;
  badTotal[2] = 0;
  badTotal[3] = 10;  // shorter than its own header
  EXPECT_EQ(ParseIp({Network::IPV4, badTotal}, p), IpParse::MALFORMED);
  EXPECT_EQ(ParseIp({Network::IPV4, Bytes(ip).first(19)}, p), IpParse::MALFORMED);
  UdpDatagram u;
  EXPECT_FALSE(ParseUdp(Buffer{0, 1, 0, 2, 0, 7, 0, 0}, u));  // UDP length below 8
}

TEST(Ipv4, FragmentFieldsAreRead) {
  IpPacket p;
  const Buffer first = Ipv4(A, B, 17, Buffer(16), 0x1234, 0x2000);
  ASSERT_EQ(ParseIp({Network::IPV4, first}, p), IpParse::OK);
  EXPECT_TRUE(p.fragment);
  EXPECT_TRUE(p.moreFragments);
  EXPECT_EQ(p.fragmentOffset, 0u);
  EXPECT_EQ(p.fragmentId, 0x1234u);
  const Buffer last = Ipv4(A, B, 17, Buffer(5), 0x1234, 2);  // offset 2 * 8, no more
  ASSERT_EQ(ParseIp({Network::IPV4, last}, p), IpParse::OK);
  EXPECT_TRUE(p.fragment);
  EXPECT_FALSE(p.moreFragments);
  EXPECT_EQ(p.fragmentOffset, 16u);
  const Buffer dontFragment = Ipv4(A, B, 17, Buffer(5), 0x1234, 0x4000);
  ASSERT_EQ(ParseIp({Network::IPV4, dontFragment}, p), IpParse::OK);
  EXPECT_FALSE(p.fragment);
}

TEST(Ipv6, ExtensionHeadersAreSkippedAndFragmentsRead) {
  const V6 s = Ip6(0x2001, 1), d = Ip6(0x2001, 2);
  const Buffer udp = Udp(5004, 6004, Text("six"));
  // Hop-by-hop (8 bytes) then destination options (16 bytes) then UDP.
  Buffer hop{60, 0, 1, 4, 0, 0, 0, 0};
  Buffer dest{17, 1, 1, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const Buffer ip = Ipv6(s, d, 0, Cat(Cat(hop, dest), udp));
  EXPECT_EQ(UdpText(LINK_RAW, ip), "six");
  EXPECT_EQ(UdpText(LINK_ETHERNET, Ethernet(0x86DD, ip, {7})), "six");
  EXPECT_EQ(UdpText(LINK_NULL, Cat(Buffer{30, 0, 0, 0}, ip)), "six");  // Darwin's AF_INET6

  IpPacket p;
  const Buffer frag = Ipv6(s, d, 44, Ipv6Fragment(17, 8, true, 0xABCDEF01, Buffer(8)));
  ASSERT_EQ(ParseIp({Network::IPV6, frag}, p), IpParse::OK);
  EXPECT_TRUE(p.fragment);
  EXPECT_EQ(p.protocol, 17);
  EXPECT_EQ(p.fragmentOffset, 8u);
  EXPECT_EQ(p.fragmentId, 0xABCDEF01u);
  // An atomic fragment (offset 0, no more) is a whole datagram.
  const Buffer atomic = Ipv6(s, d, 44, Ipv6Fragment(17, 0, false, 9, udp));
  EXPECT_EQ(UdpText(LINK_RAW, atomic), "six");
  // An extension header running past the end.
  Buffer longHop{17, 9, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ParseIp({Network::IPV6, Ipv6(s, d, 0, longHop)}, p), IpParse::MALFORMED);
}

TEST(Addresses, TextFormsFollowRfc5952) {
  auto v6 = [](std::initializer_list<uint16_t> groups) {
    IpAddress a;
    a.family = 6;
    size_t i = 0;
    for (uint16_t g : groups) {
      a.bytes[i++] = static_cast<uint8_t>(g >> 8);
      a.bytes[i++] = static_cast<uint8_t>(g);
    }
    return ToString(a);
  };
  EXPECT_EQ(v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), "2001:db8::1");
  EXPECT_EQ(v6({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}), "2001:db8:0:1:1:1:1:1");  // one 0 stays
  EXPECT_EQ(v6({0x2001, 0, 0, 1, 0, 0, 0, 1}), "2001:0:0:1::1");             // the longest run
  EXPECT_EQ(v6({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}), "2001:db8::1:0:0:1");     // the first of equals
  EXPECT_EQ(v6({0, 0, 0, 0, 0, 0, 0, 1}), "::1");
  EXPECT_EQ(v6({0, 0, 0, 0, 0, 0, 0, 0}), "::");
  EXPECT_EQ(v6({0xfe80, 0, 0, 0, 0, 0, 0, 0}), "fe80::");
  EXPECT_EQ(ToString(Ipv4Address(10, 0, 0, 255)), "10.0.0.255");
}

TEST(Tcp, HeaderAndPayload) {
  const Buffer seg = Tcp(5060, 40000, 0x01020304, TCP_FIN, Text("INVITE"));
  TcpSegment t;
  ASSERT_TRUE(ParseTcp(seg, t));
  EXPECT_EQ(t.srcPort, 5060);
  EXPECT_EQ(t.seq, 0x01020304u);
  EXPECT_EQ(t.flags, TCP_FIN);
  EXPECT_EQ(std::string(t.payload.begin(), t.payload.end()), "INVITE");
  Buffer bad = seg;
  bad[12] = 0x40;  // data offset 16 bytes: below the fixed header
  EXPECT_FALSE(ParseTcp(bad, t));
}

}  // namespace
