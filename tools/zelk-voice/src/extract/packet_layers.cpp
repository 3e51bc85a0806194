#include "packet_layers.h"

#include <fmt/format.h>

namespace zv::extract {

namespace {

constexpr uint16_t ETHERTYPE_IPV4 = 0x0800;
constexpr uint16_t ETHERTYPE_IPV6 = 0x86DD;
constexpr int MAX_VLAN_TAGS = 8;

bool IsVlanTag(uint16_t type) {
  return type == 0x8100 || type == 0x88A8 || type == 0x9100 || type == 0x9200;
}

// The network layer after an EtherType at `typeAt`, stepping over VLAN tags
// (each: two bytes of tag control, then the inner EtherType).
NetworkBytes AfterEtherType(Bytes frame, size_t typeAt) {
  for (int tags = 0; tags <= MAX_VLAN_TAGS; ++tags) {
    if (frame.size() < typeAt + 2) return {};
    const uint16_t type = Be16(frame.data() + typeAt);
    if (type == ETHERTYPE_IPV4) return {Network::IPV4, frame.subspan(typeAt + 2)};
    if (type == ETHERTYPE_IPV6) return {Network::IPV6, frame.subspan(typeAt + 2)};
    if (!IsVlanTag(type)) return {};
    typeAt += 4;
  }
  return {};
}

// BSD address families for IPv6 differ between systems: Linux 10, NetBSD and
// OpenBSD 24, FreeBSD 28, Darwin 30.
NetworkBytes FromFamily(uint32_t family, Bytes rest) {
  if (family == 2) return {Network::IPV4, rest};
  if (family == 10 || family == 24 || family == 28 || family == 30) return {Network::IPV6, rest};
  return {};
}

NetworkBytes FromVersionNibble(Bytes packet) {
  if (packet.empty()) return {};
  const int version = packet[0] >> 4;
  if (version == 4) return {Network::IPV4, packet};
  if (version == 6) return {Network::IPV6, packet};
  return {};
}

IpParse ParseIpv4(Bytes b, IpPacket& out) {
  if (b.size() < 20 || (b[0] >> 4) != 4) return IpParse::MALFORMED;
  const size_t headerBytes = size_t{b[0] & 0x0Fu} * 4;
  const size_t total = Be16(b.data() + 2);
  if (headerBytes < 20 || total < headerBytes || b.size() < headerBytes) {
    return IpParse::MALFORMED;
  }
  out = {};
  out.src.family = out.dst.family = 4;
  std::copy(b.begin() + 12, b.begin() + 16, out.src.bytes.begin());
  std::copy(b.begin() + 16, b.begin() + 20, out.dst.bytes.begin());
  out.protocol = b[9];
  // Ethernet pads short frames: the total length says where the packet ends.
  const size_t end = std::min(total, b.size());
  out.cut = b.size() < total;
  out.payload = b.subspan(headerBytes, end - headerBytes);
  const uint16_t frag = Be16(b.data() + 6);
  out.moreFragments = (frag & 0x2000u) != 0;
  out.fragmentOffset = uint32_t{frag & 0x1FFFu} * 8;
  out.fragmentId = Be16(b.data() + 4);
  out.fragment = out.moreFragments || out.fragmentOffset != 0;
  return IpParse::OK;
}

constexpr uint8_t IPV6_HOP_BY_HOP = 0;
constexpr uint8_t IPV6_ROUTING = 43;
constexpr uint8_t IPV6_FRAGMENT = 44;
constexpr uint8_t IPV6_AUTH = 51;
constexpr uint8_t IPV6_DEST_OPTIONS = 60;

IpParse ParseIpv6(Bytes b, IpPacket& out) {
  if (b.size() < 40 || (b[0] >> 4) != 6) return IpParse::MALFORMED;
  out = {};
  out.src.family = out.dst.family = 6;
  std::copy(b.begin() + 8, b.begin() + 24, out.src.bytes.begin());
  std::copy(b.begin() + 24, b.begin() + 40, out.dst.bytes.begin());
  const size_t total = 40 + size_t{Be16(b.data() + 4)};
  const size_t end = std::min(total, b.size());
  out.cut = b.size() < total;
  out.protocol = b[6];
  out.payload = b.subspan(40, end - 40);
  // Extension headers up to the fragment header; what follows a fragment
  // header is only readable once the datagram is whole.
  if (!SkipIpv6Extensions(out.protocol, out.payload)) return IpParse::MALFORMED;
  if (out.protocol == IPV6_FRAGMENT) {
    if (out.payload.size() < 8) return IpParse::MALFORMED;
    const uint8_t* f = out.payload.data();
    const uint16_t word = Be16(f + 2);
    out.protocol = f[0];
    out.fragmentOffset = (uint32_t{word} >> 3) * 8;
    out.moreFragments = (word & 1u) != 0;
    out.fragmentId = Be32(f + 4);
    out.payload = out.payload.subspan(8);
    out.fragment = out.moreFragments || out.fragmentOffset != 0;
    // An "atomic" fragment (offset 0, no more) is the whole datagram.
    if (!out.fragment && !SkipIpv6Extensions(out.protocol, out.payload)) {
      return IpParse::MALFORMED;
    }
  }
  return IpParse::OK;
}

}  // namespace

bool LinkTypeSupported(int t) {
  return t == LINK_NULL || t == LINK_ETHERNET || t == LINK_RAW || t == LINK_RAW_OPENBSD ||
         t == LINK_RAW_FILE || t == LINK_LOOP || t == LINK_LINUX_SLL || t == LINK_IPV4 ||
         t == LINK_IPV6 || t == LINK_LINUX_SLL2;
}

IpAddress Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  IpAddress ip;
  ip.family = 4;
  ip.bytes[0] = a;
  ip.bytes[1] = b;
  ip.bytes[2] = c;
  ip.bytes[3] = d;
  return ip;
}

std::string ToString(const IpAddress& a) {
  const auto& b = a.bytes;
  if (a.family == 4) return fmt::format("{}.{}.{}.{}", b[0], b[1], b[2], b[3]);
  if (a.family != 6) return "?";
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = Be16(&b[static_cast<size_t>(2 * i)]);
  // The longest run of two or more zero groups becomes "::" (the first of equals).
  int bestAt = -1, bestLen = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLen) bestAt = i, bestLen = j - i;
    i = j == i ? i + 1 : j;
  }
  std::string s;
  for (int i = 0; i < 8; ++i) {
    if (i == bestAt) {
      s += "::";
      i += bestLen - 1;
      continue;
    }
    if (!s.empty() && s.back() != ':') s += ':';
    s += fmt::format("{:x}", groups[i]);
  }
  return s;
}

NetworkBytes StripLinkLayer(int linkType, Bytes f) {
  switch (linkType) {
    case LINK_ETHERNET:
      return AfterEtherType(f, 12);
    case LINK_LINUX_SLL:  // packet type, ARPHRD, address length, 8 address bytes, protocol
      return AfterEtherType(f, 14);
    case LINK_LINUX_SLL2: {  // protocol first, then 18 bytes of interface and address
      if (f.size() < 20) return {};
      NetworkBytes n = AfterEtherType(f.first(2), 0);
      if (n.network == Network::OTHER) {
        // A VLAN tag after a cooked v2 header: its control word opens the
        // payload, the inner EtherType follows.
        if (!IsVlanTag(Be16(f.data()))) return {};
        return AfterEtherType(f.subspan(20), 2);
      }
      return {n.network, f.subspan(20)};
    }
    case LINK_NULL: {
      if (f.size() < 4) return {};
      // Written in the capturing host's byte order: the small value is the right reading.
      const uint32_t le =
          uint32_t{f[0]} | uint32_t{f[1]} << 8 | uint32_t{f[2]} << 16 | uint32_t{f[3]} << 24;
      const uint32_t family = le <= 0xFFFF ? le : Be32(f.data());
      return FromFamily(family, f.subspan(4));
    }
    case LINK_LOOP:
      if (f.size() < 4) return {};
      return FromFamily(Be32(f.data()), f.subspan(4));
    case LINK_RAW:
    case LINK_RAW_OPENBSD:
    case LINK_RAW_FILE:
    case LINK_IPV4:
    case LINK_IPV6:
      return FromVersionNibble(f);
    default:
      return {};
  }
}

IpParse ParseIp(const NetworkBytes& in, IpPacket& out) {
  if (in.network == Network::IPV4) return ParseIpv4(in.bytes, out);
  if (in.network == Network::IPV6) return ParseIpv6(in.bytes, out);
  return IpParse::NOT_IP;
}

bool SkipIpv6Extensions(uint8_t& protocol, Bytes& payload) {
  while (protocol == IPV6_HOP_BY_HOP || protocol == IPV6_ROUTING || protocol == IPV6_DEST_OPTIONS ||
         protocol == IPV6_AUTH) {
    if (payload.size() < 8) return false;
    const size_t len =
        protocol == IPV6_AUTH ? (size_t{payload[1]} + 2) * 4 : (size_t{payload[1]} + 1) * 8;
    if (payload.size() < len) return false;
    protocol = payload[0];
    payload = payload.subspan(len);
  }
  return true;
}

bool ParseUdp(Bytes b, UdpDatagram& out) {
  if (b.size() < 8) return false;
  const size_t length = Be16(b.data() + 4);
  if (length < 8) return false;
  out.srcPort = Be16(b.data());
  out.dstPort = Be16(b.data() + 2);
  out.cut = b.size() < length;
  out.payload = b.subspan(8, std::min(length, b.size()) - 8);
  return true;
}

bool ParseTcp(Bytes b, TcpSegment& out) {
  if (b.size() < 20) return false;
  const size_t headerBytes = (size_t{b[12]} >> 4) * 4;
  if (headerBytes < 20 || b.size() < headerBytes) return false;
  out.srcPort = Be16(b.data());
  out.dstPort = Be16(b.data() + 2);
  out.seq = Be32(b.data() + 4);
  out.flags = b[13];
  out.payload = b.subspan(headerBytes);
  return true;
}

}  // namespace zv::extract
