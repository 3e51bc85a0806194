// Building captured frames byte by byte for the extract tests and the capture
// generator: every header is laid out here from the RFCs, not by the code under test.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zvtest {

using Buffer = std::vector<uint8_t>;

inline void Put16(Buffer& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put32(Buffer& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}
inline Buffer Cat(Buffer a, const Buffer& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline Buffer Text(std::string_view s) { return Buffer(s.begin(), s.end()); }

struct V4 {
  uint8_t a, b, c, d;
};

// RTP fixed header (RFC 3550 5.1), no CSRCs, then the payload.
inline Buffer Rtp(uint16_t seq, uint32_t ts, uint32_t ssrc, uint8_t pt, bool marker,
                  const Buffer& payload) {
  Buffer b{0x80, static_cast<uint8_t>((marker ? 0x80 : 0) | pt)};
  Put16(b, seq);
  Put32(b, ts);
  Put32(b, ssrc);
  return Cat(b, payload);
}

inline Buffer Udp(uint16_t sport, uint16_t dport, const Buffer& payload) {
  Buffer b;
  Put16(b, sport);
  Put16(b, dport);
  Put16(b, static_cast<uint32_t>(8 + payload.size()));
  Put16(b, 0);  // no checksum
  return Cat(b, payload);
}

inline Buffer Tcp(uint16_t sport, uint16_t dport, uint32_t seq, uint8_t flags,
                  const Buffer& payload) {
  Buffer b;
  Put16(b, sport);
  Put16(b, dport);
  Put32(b, seq);
  Put32(b, 0);
  b.push_back(0x50);  // 20-byte header
  b.push_back(flags);
  Put16(b, 65535);
  Put16(b, 0);
  Put16(b, 0);
  return Cat(b, payload);
}

// IPv4 with its header checksum; flagsOffset is the raw word (0x2000 more
// fragments, the offset in 8-byte units below it).
inline Buffer Ipv4(V4 src, V4 dst, uint8_t proto, const Buffer& payload, uint16_t id = 0,
                   uint16_t flagsOffset = 0) {
  Buffer b{0x45, 0};
  Put16(b, static_cast<uint32_t>(20 + payload.size()));
  Put16(b, id);
  Put16(b, flagsOffset);
  b.push_back(64);
  b.push_back(proto);
  Put16(b, 0);
  for (uint8_t x : {src.a, src.b, src.c, src.d}) b.push_back(x);
  for (uint8_t x : {dst.a, dst.b, dst.c, dst.d}) b.push_back(x);
  uint32_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum += uint32_t{b[i]} << 8 | b[i + 1];
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  b[10] = static_cast<uint8_t>(~sum >> 8);
  b[11] = static_cast<uint8_t>(~sum);
  return Cat(b, payload);
}

using V6 = std::array<uint8_t, 16>;
inline V6 Ip6(uint16_t first, uint16_t last) {
  V6 a{};
  a[0] = static_cast<uint8_t>(first >> 8);
  a[1] = static_cast<uint8_t>(first);
  a[14] = static_cast<uint8_t>(last >> 8);
  a[15] = static_cast<uint8_t>(last);
  return a;
}

inline Buffer Ipv6(const V6& src, const V6& dst, uint8_t next, const Buffer& payload) {
  Buffer b{0x60, 0, 0, 0};
  Put16(b, static_cast<uint32_t>(payload.size()));
  b.push_back(next);
  b.push_back(64);
  b.insert(b.end(), src.begin(), src.end());
  b.insert(b.end(), dst.begin(), dst.end());
  return Cat(b, payload);
}

// IPv6 fragment header (RFC 8200 4.5) in front of a piece of the fragmentable part.
inline Buffer Ipv6Fragment(uint8_t next, uint32_t offsetBytes, bool more, uint32_t id,
                           const Buffer& piece) {
  Buffer b{next, 0};
  Put16(b, (offsetBytes / 8) << 3 | (more ? 1u : 0u));
  Put32(b, id);
  return Cat(b, piece);
}

inline Buffer Ethernet(uint16_t etherType, const Buffer& payload,
                       const std::vector<uint16_t>& vlanTags = {}) {
  Buffer b{0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
  for (size_t i = 0; i < vlanTags.size(); ++i) {
    Put16(b, i == 0 && vlanTags.size() > 1 ? 0x88A8 : 0x8100);
    Put16(b, vlanTags[i]);
  }
  Put16(b, etherType);
  return Cat(b, payload);
}

// Classic pcap with nanosecond timestamps (magic a1b23c4d), little-endian.
class PcapWriter {
 public:
  PcapWriter(const std::string& path, uint32_t linkType, uint32_t snaplen = 262144)
      : f_(std::fopen(path.c_str(), "wb")) {
    Buffer h;
    Le32(h, 0xa1b23c4d);
    Le16(h, 2);
    Le16(h, 4);
    Le32(h, 0);
    Le32(h, 0);
    Le32(h, snaplen);
    Le32(h, linkType);
    std::fwrite(h.data(), 1, h.size(), f_);
  }
  ~PcapWriter() {
    if (f_) std::fclose(f_);
  }
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;
  // `captured` bytes of the frame are stored; the record says `frame.size()` on the wire.
  void Write(int64_t timeNs, const Buffer& frame, size_t captured = SIZE_MAX) {
    const size_t n = std::min(captured, frame.size());
    Buffer h;
    Le32(h, static_cast<uint32_t>(timeNs / 1000000000));
    Le32(h, static_cast<uint32_t>(timeNs % 1000000000));
    Le32(h, static_cast<uint32_t>(n));
    Le32(h, static_cast<uint32_t>(frame.size()));
    std::fwrite(h.data(), 1, h.size(), f_);
    std::fwrite(frame.data(), 1, n, f_);
  }

 private:
  static void Le16(Buffer& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  static void Le32(Buffer& b, uint32_t v) {
    Le16(b, v & 0xFFFF);
    Le16(b, v >> 16);
  }
  std::FILE* f_;
};

}  // namespace zvtest
