// Taking one captured frame apart: link layer, IPv4/IPv6, UDP and TCP. Plain
// functions over the captured bytes; nothing here allocates or keeps state.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <span>
#include <string>

namespace zv::extract {

using Bytes = std::span<const uint8_t>;

// Link types as libpcap reports them (its DLT_ numbers on Linux).
inline constexpr int LINK_NULL = 0;  // BSD loopback, family in the writer's byte order
inline constexpr int LINK_ETHERNET = 1;
inline constexpr int LINK_RAW = 12;  // raw IP (14 on OpenBSD, 101 in files)
inline constexpr int LINK_RAW_OPENBSD = 14;
inline constexpr int LINK_RAW_FILE = 101;
inline constexpr int LINK_LOOP = 108;  // BSD loopback, family in network byte order
inline constexpr int LINK_LINUX_SLL = 113;
inline constexpr int LINK_IPV4 = 228;
inline constexpr int LINK_IPV6 = 229;
inline constexpr int LINK_LINUX_SLL2 = 276;

bool LinkTypeSupported(int linkType);

struct IpAddress {
  uint8_t family = 0;               // 4 or 6
  std::array<uint8_t, 16> bytes{};  // an IPv4 address in the first four
  auto operator<=>(const IpAddress&) const = default;
};

std::string ToString(const IpAddress& a);  // 192.0.2.1, 2001:db8::1
IpAddress Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

enum class Network { IPV4, IPV6, OTHER };

struct NetworkBytes {
  Network network = Network::OTHER;
  Bytes bytes;  // from the IP header on
};

// Strips the link-layer header and any 802.1Q/802.1ad VLAN tags (any depth).
// OTHER for frames that carry no IP (ARP, LLC, a header cut short, ...).
NetworkBytes StripLinkLayer(int linkType, Bytes frame);

inline constexpr uint8_t PROTO_TCP = 6;
inline constexpr uint8_t PROTO_UDP = 17;

struct IpPacket {
  IpAddress src;
  IpAddress dst;
  uint8_t protocol = 0;  // the upper layer (after IPv6 extension headers)
  Bytes payload;         // the upper layer's bytes as far as they were captured
  bool cut = false;      // captured shorter than the IP header says
  // Fragmentation: a packet is a fragment when its offset is not 0 or more follow.
  bool fragment = false;
  uint32_t fragmentId = 0;
  uint32_t fragmentOffset = 0;  // in bytes
  bool moreFragments = false;
};

enum class IpParse { OK, NOT_IP, MALFORMED };

IpParse ParseIp(const NetworkBytes& in, IpPacket& out);

// Walks IPv6 extension headers that may follow a fragment header once the
// datagram is whole: on return `protocol` and `payload` name the upper layer.
bool SkipIpv6Extensions(uint8_t& protocol, Bytes& payload);

struct UdpDatagram {
  uint16_t srcPort = 0;
  uint16_t dstPort = 0;
  Bytes payload;
  bool cut = false;  // the length field promises more than was captured
};

bool ParseUdp(Bytes ipPayload, UdpDatagram& out);

inline constexpr uint8_t TCP_FIN = 0x01;
inline constexpr uint8_t TCP_RST = 0x04;

struct TcpSegment {
  uint16_t srcPort = 0;
  uint16_t dstPort = 0;
  uint32_t seq = 0;
  uint8_t flags = 0;
  Bytes payload;
};

bool ParseTcp(Bytes ipPayload, TcpSegment& out);

inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace zv::extract
