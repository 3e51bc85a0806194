// The capture side of `zelk-voice extract` on arbitrary frames: link layers,
// IP (with reassembly), UDP, TCP, SIP and SDP, RTP headers, stream detection,
// the stream figures and playout.
//
// Input: byte 0 picks the link type; then frames, each a 16-bit little-endian
// length, a byte of capture time since the previous frame (ms), and the bytes.
// Besides the sanitizers: every view a parser returns lies inside what it was
// given, a SIP message never claims more bytes than it was given, and playout
// accounts for every sample it hands out.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "ip_reassembly.h"
#include "packet_layers.h"
#include "playout.h"
#include "rtp_detector.h"
#include "rtp_stats.h"
#include "sip_sdp.h"

using namespace zv::extract;

namespace {

constexpr int LINKS[] = {LINK_NULL,      LINK_ETHERNET, LINK_RAW,  LINK_LOOP,
                         LINK_LINUX_SLL, LINK_IPV4,     LINK_IPV6, LINK_LINUX_SLL2};

bool Inside(Bytes part, Bytes whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

struct CountingSink : PlayoutSink {
  bool Play(const PlayoutPacket& p, long skip) override {
    FUZZ_CHECK(skip >= 0 && skip < p.samples);
    if (!p.payload.empty() && p.payload[0] == 0xEE) return false;  // refused: nothing written
    total += p.samples - skip;
    return true;
  }
  void Conceal(int64_t n) override {
    FUZZ_CHECK(n > 0);
    total += n;
  }
  void Silence(int64_t n) override {
    FUZZ_CHECK(n > 0);
    total += n;
  }
  int64_t total = 0;
};

struct Session {
  IpReassembler reassembler{ReassemblyLimits{8, 1'000'000'000, 65535}};
  TcpSipStreams tcp{8, 4096};
  SdpDirectory sdp{16};
  RtpDetector detector{DetectorLimits{2, 8, 1 << 16, 1'000'000'000}};
  RtpStreamStats stats;
  SequenceUnwrapper seqs;
  TimestampUnwrapper stamps;
  CountingSink sink;
  Playout playout{sink};

  void Sip(Bytes payload) {
    SipMessage m;
    if (ParseSipMessage(payload, false, m) == SipParse::OK) {
      FUZZ_CHECK(m.length <= payload.size());
      sdp.Learn(m);
    }
    if (ParseSipMessage(payload, true, m) == SipParse::OK) FUZZ_CHECK(m.length <= payload.size());
  }

  void Upper(const IpPacket& ip, int64_t t, uint64_t n) {
    if (ip.protocol == PROTO_UDP) {
      UdpDatagram udp;
      if (!ParseUdp(ip.payload, udp)) return;
      FUZZ_CHECK(Inside(udp.payload, ip.payload));
      if (LooksLikeSip(udp.payload)) Sip(udp.payload);
      LooksLikeRtcp(udp.payload);
      RtpHeader rtp;
      if (!ParseRtp(udp.payload, rtp)) return;
      FUZZ_CHECK(Inside(rtp.payload, udp.payload));
      const StreamKey key{{ip.src, udp.srcPort}, {ip.dst, udp.dstPort}, rtp.ssrc};
      std::vector<HeldPacket> confirmed;
      detector.Offer(key, rtp, {n, t, udp.cut, {udp.payload.begin(), udp.payload.end()}},
                     sdp.Find(key.dst) != nullptr, confirmed);
      stats.Add(t, rtp, rtp.payloadType == 97 ? 0 : 8000);
      PlayoutPacket p;
      p.seq = seqs.Unwrap(rtp.seq);
      p.ts = stamps.Unwrap(rtp.timestamp);
      p.arrivalNs = t;
      p.kind = rtp.payloadType == 13 ? PayloadKind::COMFORT_NOISE : PayloadKind::PCMU;
      p.samples = static_cast<long>(rtp.payload.size());
      p.payload.assign(rtp.payload.begin(), rtp.payload.end());
      playout.Push(std::move(p));
    } else if (ip.protocol == PROTO_TCP) {
      TcpSegment seg;
      if (!ParseTcp(ip.payload, seg)) return;
      FUZZ_CHECK(Inside(seg.payload, ip.payload));
      std::vector<SipMessage> messages;
      tcp.Add(ip, seg, messages);
      for (const SipMessage& m : messages) sdp.Learn(m);
    }
  }

  void Frame(int link, Bytes frame, int64_t t, uint64_t n) {
    const NetworkBytes net = StripLinkLayer(link, frame);
    FUZZ_CHECK(Inside(net.bytes, frame));
    ParseSdp(std::string_view(reinterpret_cast<const char*>(frame.data()), frame.size()));
    IpPacket ip;
    if (ParseIp(net, ip) != IpParse::OK) return;
    FUZZ_CHECK(Inside(ip.payload, net.bytes));
    if (!ip.fragment) {
      Upper(ip, t, n);
      return;
    }
    IpPacket whole;
    if (reassembler.Add(ip, t, n, whole)) Upper(whole, t, n);
    FUZZ_CHECK(reassembler.Pending() <= 8);
    reassembler.TakeDrops();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelk::fuzz::ByteReader in(data, size);
  const int link = LINKS[in.Byte() % (sizeof LINKS / sizeof LINKS[0])];
  Session s;
  int64_t t = 0;
  uint64_t n = 0;
  while (!in.Empty()) {
    const size_t len = in.Word16();
    t += int64_t{in.Byte()} * 1'000'000;
    std::vector<uint8_t> frame(len);
    in.Bytes(frame.data(), frame.size());
    s.Frame(link, frame, t, ++n);
  }
  s.playout.Flush();
  FUZZ_CHECK(s.sink.total == s.playout.Samples());
  FUZZ_CHECK(s.stats.Packets() == 0 || s.stats.MaxJitterMs() >= 0);
  s.reassembler.Finish();
  return 0;
}
