// SIP messages and SDP bodies as real user agents write them.
#include "sip_sdp.h"

#include <gtest/gtest.h>

#include "packet_builder.h"

using namespace zv::extract;
using namespace zvtest;

namespace {

const char* SDP_OFFER =
    "v=0\r\n"
    "o=alice 2890844526 2890844526 IN IP4 192.0.2.10\r\n"
    "s=-\r\n"
    "c=IN IP4 192.0.2.10\r\n"
    "t=0 0\r\n"
    "m=audio 49170 RTP/AVP 0 8 97 101 13\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=rtpmap:97 zelk-adpcm2/8000\r\n"
    "a=rtpmap:101 telephone-event/8000\r\n"
    "a=fmtp:101 0-15\r\n"
    "m=video 51372 RTP/AVP 96\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "m=audio 0 RTP/AVP 0\r\n";  // a refused stream

std::string Invite(const std::string& sdp, bool compact = false) {
  std::string m = "INVITE sip:bob@example.com SIP/2.0\r\n";
  m += "Via: SIP/2.0/UDP 192.0.2.10:5060;branch=z9hG4bK776asdhds\r\n";
  m += compact ? "i: a84b4c76e66710@pc33\r\n" : "Call-ID: a84b4c76e66710@pc33\r\n";
  m += "CSeq: 314159 INVITE\r\n";
  m += compact ? "c: application/sdp\r\n" : "Content-Type: application/sdp\r\n";
  m += (compact ? "l: " : "Content-Length: ") + std::to_string(sdp.size()) + "\r\n\r\n";
  return m + sdp;
}

TEST(Sdp, MediaEndpointsAndPayloadTypes) {
  const auto media = ParseSdp(SDP_OFFER);
  ASSERT_EQ(media.size(), 2u);  // the refused one is left out
  const SdpMedia& audio = media[0];
  EXPECT_TRUE(audio.audio);
  EXPECT_EQ(ToString(audio.endpoint), "192.0.2.10:49170");
  EXPECT_EQ(audio.formats, (std::vector<int>{0, 8, 97, 101, 13}));
  EXPECT_EQ(audio.payloadTypes.at(97).kind, PayloadKind::ADPCM2);  // names ignore case
  EXPECT_EQ(audio.payloadTypes.at(101).kind, PayloadKind::EVENT);
  EXPECT_EQ(audio.payloadTypes.count(8), 0u);  // static: no rtpmap needed
  EXPECT_FALSE(media[1].audio);
  EXPECT_EQ(media[1].payloadTypes.at(96).kind, PayloadKind::NOT_AUDIO);
}

TEST(Sdp, MediaLevelAddressIpv6AndHold) {
  const auto media = ParseSdp(
      "v=0\nc=IN IP4 203.0.113.5\nm=audio 4000 RTP/AVP 96\nc=IN IP6 2001:db8::5\n"
      "a=rtpmap:96 DVI4/8000\nm=audio 4002 RTP/AVP 96\na=rtpmap:96 DVI4/16000\n"
      "m=audio 4004 RTP/AVP 0\nc=IN IP4 0.0.0.0\nm=audio 4006 RTP/SAVP 0\n"
      "m=audio 4008 UDP/TLS/RTP/SAVPF 8\n");
  ASSERT_EQ(media.size(), 4u);
  EXPECT_EQ(ToString(media[0].endpoint), "[2001:db8::5]:4000");
  EXPECT_EQ(media[0].payloadTypes.at(96).kind, PayloadKind::DVI4);
  EXPECT_EQ(ToString(media[1].endpoint), "203.0.113.5:4002");
  EXPECT_EQ(media[1].payloadTypes.at(96).kind, PayloadKind::UNSUPPORTED);  // DVI4 at 16 kHz
  EXPECT_EQ(media[1].payloadTypes.at(96).name, "DVI4/16000");
  EXPECT_EQ(media[2].endpoint.port, 4006);  // 4004 is on hold (0.0.0.0)
}

TEST(Sip, RequestsAndResponsesInDatagrams) {
  const std::string invite = Invite(SDP_OFFER);
  SipMessage m;
  ASSERT_EQ(ParseSipMessage(Text(invite), false, m), SipParse::OK);
  EXPECT_TRUE(m.request);
  EXPECT_EQ(m.method, "INVITE");
  EXPECT_EQ(m.callId, "a84b4c76e66710@pc33");
  EXPECT_EQ(m.length, invite.size());
  EXPECT_EQ(m.media.size(), 2u);

  ASSERT_EQ(ParseSipMessage(Text(Invite(SDP_OFFER, true)), false, m), SipParse::OK);
  EXPECT_EQ(m.callId, "a84b4c76e66710@pc33");
  EXPECT_EQ(m.media.size(), 2u);

  const std::string ok = "SIP/2.0 200 OK\r\nCall-ID: x\r\nCSeq: 2 BYE\r\nContent-Length: 0\r\n\r\n";
  ASSERT_EQ(ParseSipMessage(Text(ok), false, m), SipParse::OK);
  EXPECT_FALSE(m.request);
  EXPECT_EQ(m.method, "BYE");
  EXPECT_TRUE(m.media.empty());

  for (const char* notSip : {"GET / HTTP/1.1\r\n\r\n", "\x80\x00\x12\x34 SIP/2.0\r\n", "SIP/2.0",
                             "invite sip:a SIP/2.0\r\n"}) {
    EXPECT_EQ(ParseSipMessage(Text(notSip), false, m), SipParse::NOT_SIP) << notSip;
  }
}

TEST(Sip, MultipartBodyCarriesSdp) {
  const std::string body =
      "--b1\r\nContent-Type: application/sdp\r\n\r\nv=0\r\nc=IN IP4 192.0.2.1\r\n"
      "m=audio 7000 RTP/AVP 98\r\na=rtpmap:98 PCMA/8000\r\n\r\n--b1\r\n"
      "Content-Type: application/isup\r\n\r\nxyz\r\n--b1--\r\n";
  const std::string msg =
      "INVITE sip:x SIP/2.0\r\nContent-Type: multipart/mixed;boundary=b1\r\n"
      "Content-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  SipMessage m;
  ASSERT_EQ(ParseSipMessage(Text(msg), false, m), SipParse::OK);
  ASSERT_EQ(m.media.size(), 1u);
  EXPECT_EQ(m.media[0].payloadTypes.at(98).kind, PayloadKind::PCMA);
}

TEST(Sip, TcpStreamsAreCutIntoMessages) {
  const std::string a = Invite(SDP_OFFER), b = Invite(SDP_OFFER, true);
  const std::string both = a + b;
  IpPacket ip;
  ip.src = Ipv4Address(192, 0, 2, 10);
  ip.dst = Ipv4Address(192, 0, 2, 20);
  // Segments split anywhere, one of them sent twice.
  const std::vector<size_t> cuts = {0, 30, 31, 400, a.size() + 5, both.size()};
  TcpSipStreams streams;
  std::vector<SipMessage> got;
  const uint32_t isn = 0xFFFFFF00;  // sequence numbers wrap inside the call
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    TcpSegment t;
    t.srcPort = 5060;
    t.dstPort = 5060;
    t.seq = isn + static_cast<uint32_t>(cuts[k]);
    const Buffer seg = Text(both.substr(cuts[k], cuts[k + 1] - cuts[k]));
    t.payload = seg;
    streams.Add(ip, t, got);
    if (k == 2) streams.Add(ip, t, got);  // retransmission
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].length, a.size());
  EXPECT_EQ(got[1].media.size(), 2u);
}

TEST(Sip, TcpGapDropsThePartialMessage) {
  const std::string a = Invite(SDP_OFFER);
  IpPacket ip;
  ip.src = Ipv4Address(1, 1, 1, 1);
  ip.dst = Ipv4Address(2, 2, 2, 2);
  TcpSipStreams streams;
  std::vector<SipMessage> got;
  TcpSegment t;
  t.seq = 1000;
  Buffer first = Text(a.substr(0, 100));
  t.payload = first;
  streams.Add(ip, t, got);
  // 50 bytes never arrive; the next message starts cleanly after them.
  t.seq = 1000 + static_cast<uint32_t>(a.size()) + 50;
  Buffer next = Text(a);
  t.payload = next;
  streams.Add(ip, t, got);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].method, "INVITE");
}

TEST(SdpDirectory, FindsByEndpointAndAgreesAcrossCalls) {
  SdpDirectory dir(2);
  SipMessage m;
  ASSERT_EQ(ParseSipMessage(Text(Invite(SDP_OFFER)), false, m), SipParse::OK);
  dir.Learn(m);
  const SdpMedia* found = dir.Find({Ipv4Address(192, 0, 2, 10), 49170});
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->audio);
  EXPECT_EQ(dir.Consensus(97)->kind, PayloadKind::ADPCM2);
  // Another call maps 97 differently: no consensus any more.
  SipMessage other;
  ASSERT_EQ(ParseSipMessage(Text(Invite("v=0\r\nc=IN IP4 192.0.2.99\r\nm=audio 5000 RTP/AVP 97\r\n"
                                        "a=rtpmap:97 PCMA/8000\r\n")),
                            false, other),
            SipParse::OK);
  dir.Learn(other);
  EXPECT_FALSE(dir.Consensus(97).has_value());
  EXPECT_EQ(dir.Consensus(101)->kind, PayloadKind::EVENT);
  // Bounded: the oldest endpoint gave way.
  EXPECT_EQ(dir.Size(), 2u);
  EXPECT_EQ(dir.Find({Ipv4Address(192, 0, 2, 10), 49170}), nullptr);
  EXPECT_NE(dir.Find({Ipv4Address(192, 0, 2, 99), 5000}), nullptr);
}

}  // namespace
