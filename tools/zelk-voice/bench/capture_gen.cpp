// Writes a synthetic capture of many short SIP calls for the extract
// benchmark, straight to a pcap file: each call an INVITE with SDP, 200 OK,
// ACK, 20 ms G.711 packets both ways, then BYE and 200 OK. Half the calls use
// PCMU (payload type 0), half PCMA under the dynamic type 97 that their SDP maps.
//
//   zelk_extract_capture_gen CALLS CONCURRENT SECONDS OUT.pcap
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "packet_builder.h"

using namespace zvtest;

namespace {

constexpr int64_t MS = 1'000'000;

struct Call {
  uint32_t index;
  V4 caller, callee;
  uint16_t callerRtp, calleeRtp;
  uint32_t ssrc[2];
  uint16_t seq[2];
  uint32_t ts[2];
  bool alaw;
  int64_t start;
  int packets;  // per direction
};

std::string Sdp(const Call& c, bool caller) {
  const V4 a = caller ? c.caller : c.callee;
  const std::string ip = std::to_string(a.a) + "." + std::to_string(a.b) + "." +
                         std::to_string(a.c) + "." + std::to_string(a.d);
  const int pt = c.alaw ? 97 : 0;
  std::string s = "v=0\r\no=- " + std::to_string(c.index) + " 1 IN IP4 " + ip +
                  "\r\ns=-\r\nc=IN IP4 " + ip + "\r\nt=0 0\r\nm=audio " +
                  std::to_string(caller ? c.callerRtp : c.calleeRtp) + " RTP/AVP " +
                  std::to_string(pt) + "\r\n";
  if (c.alaw) s += "a=rtpmap:97 PCMA/8000\r\n";
  return s;
}

std::string Sip(const Call& c, const std::string& first, const std::string& cseq,
                const std::string& body) {
  std::string m = first + "\r\nVia: SIP/2.0/UDP 10.9.9.9;branch=z9hG4bK" + std::to_string(c.index) +
                  "\r\nCall-ID: bench-" + std::to_string(c.index) + "@zelk\r\nCSeq: " + cseq +
                  "\r\n";
  if (!body.empty()) m += "Content-Type: application/sdp\r\n";
  return m + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The call's packets in time order: (time, frame).
struct Event {
  int64_t time;
  uint32_t call;
  int step;  // 0..4 signalling before media, then media packets, then the BYE pair
  bool operator>(const Event& o) const { return time > o.time; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s CALLS CONCURRENT SECONDS OUT.pcap\n", argv[0]);
    return 2;
  }
  const uint32_t calls = static_cast<uint32_t>(std::atol(argv[1]));
  const double concurrent = std::atof(argv[2]);
  const double seconds = std::atof(argv[3]);
  PcapWriter out(argv[4], 1);
  std::mt19937 rng(2024);
  // A tone with a little noise as speech stand-in, in both laws.
  Buffer ulaw(160), alaw(160);
  for (size_t i = 0; i < 160; ++i) {
    ulaw[i] = static_cast<uint8_t>(0x20 + (i * 7 + rng() % 5) % 64);
    alaw[i] = static_cast<uint8_t>(0xA0 + (i * 5 + rng() % 5) % 64);
  }
  const int packets = static_cast<int>(std::lround(seconds * 50));
  const int64_t spacing = static_cast<int64_t>(seconds * 1e9 / concurrent);
  const int64_t t0 = 1'700'000'000'000'000'000;
  std::vector<Call> all;
  std::priority_queue<Event, std::vector<Event>, std::greater<>> events;
  uint32_t started = 0;
  auto startCall = [&](uint32_t i) {
    Call c{};
    c.index = i;
    c.caller = {10, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                static_cast<uint8_t>(i)};
    c.callee = {10, static_cast<uint8_t>(128 | (i >> 16)), static_cast<uint8_t>(i >> 8),
                static_cast<uint8_t>(i)};
    c.callerRtp = static_cast<uint16_t>(16384 + 2 * (i % 8000));
    c.calleeRtp = static_cast<uint16_t>(32768 + 2 * (i % 8000));
    for (int d = 0; d < 2; ++d) {
      c.ssrc[d] = static_cast<uint32_t>(rng());
      c.seq[d] = static_cast<uint16_t>(rng());
      c.ts[d] = static_cast<uint32_t>(rng());
    }
    c.alaw = i % 2 == 1;
    c.start = t0 + static_cast<int64_t>(i) * spacing;
    c.packets = packets;
    all.push_back(c);
    events.push({c.start, i, 0});
  };
  startCall(started++);
  while (!events.empty()) {
    const Event e = events.top();
    events.pop();
    // The next call starts once its start time has come (before `c` is taken:
    // starting one grows `all`).
    while (started < calls && t0 + static_cast<int64_t>(started) * spacing <= e.time) {
      startCall(started++);
    }
    Call& c = all[e.call];
    const int media = 2 * c.packets;
    Buffer frame;
    int64_t next = -1;
    if (e.step < 3) {  // INVITE, 200 OK, ACK
      const bool fromCaller = e.step != 1;
      const std::string text =
          e.step == 0   ? Sip(c, "INVITE sip:b@10.9.9.9 SIP/2.0", "1 INVITE", Sdp(c, true))
          : e.step == 1 ? Sip(c, "SIP/2.0 200 OK", "1 INVITE", Sdp(c, false))
                        : Sip(c, "ACK sip:b@10.9.9.9 SIP/2.0", "1 ACK", "");
      frame =
          Ethernet(0x0800, Ipv4(fromCaller ? c.caller : c.callee, fromCaller ? c.callee : c.caller,
                                17, Udp(5060, 5060, Text(text))));
      next = e.time + 50 * MS;
    } else if (e.step < 3 + media) {
      const int k = e.step - 3, d = k % 2;  // directions alternate, 10 ms apart
      const bool fromCaller = d == 0;
      const Buffer rtp =
          Rtp(c.seq[d]++, c.ts[d], c.ssrc[d], c.alaw ? 97 : 0, k < 2, c.alaw ? alaw : ulaw);
      c.ts[d] += 160;
      frame = Ethernet(0x0800,
                       Ipv4(fromCaller ? c.caller : c.callee, fromCaller ? c.callee : c.caller, 17,
                            Udp(fromCaller ? c.callerRtp : c.calleeRtp,
                                fromCaller ? c.calleeRtp : c.callerRtp, rtp)));
      next = e.time + 10 * MS + static_cast<int64_t>(rng() % 2000) * 1000;  // up to 2 ms of jitter
    } else {
      const bool bye = e.step == 3 + media;
      const std::string text = bye ? Sip(c, "BYE sip:b@10.9.9.9 SIP/2.0", "2 BYE", "")
                                   : Sip(c, "SIP/2.0 200 OK", "2 BYE", "");
      frame = Ethernet(0x0800, Ipv4(bye ? c.caller : c.callee, bye ? c.callee : c.caller, 17,
                                    Udp(5060, 5060, Text(text))));
      next = bye ? e.time + 50 * MS : -1;
    }
    out.Write(e.time, frame);
    if (next >= 0) events.push({next, e.call, e.step + 1});
  }
  return 0;
}
