// Captures in, one WAV per RTP stream out, with each stream's figures. The
// captures are read in the order given as one stretch of traffic (a ring of
// tcpdump files reads as one capture), packet by packet: memory holds only the
// streams in progress (each a playout window, a receiver and a small output
// buffer), the trials of flows that may become streams, incomplete IP datagrams
// and SIP over TCP being reassembled, each bounded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture_file.h"
#include "ip_reassembly.h"
#include "rtp_detector.h"
#include "sip_sdp.h"

namespace zv::extract {

struct ExtractSettings {
  std::string outputDir;
  std::map<int, PayloadKind> payloadTypes;  // --pt N=CODEC
  bool mix = false;                         // also a stereo WAV per call
  int64_t idleTimeoutNs = 60'000'000'000;   // a stream silent this long is finished
  int64_t byeGraceNs = 2'000'000'000;       // stragglers after the call's BYE
};

// What is left of a stream once it is finished.
struct StreamReport {
  StreamKey key;
  std::string codec;  // "ulaw", ... or what the payload type stands for
  // Its WAV, DIR/<ssrc>-<codec>[-<number>].wav: number 0 when none was
  // written, 1 for the plain name, 2.. when the name was taken (kept as
  // numbers, not paths: a capture may hold a hundred thousand streams).
  uint32_t fileNumber = 0;
  PayloadKind fileCodec = PayloadKind::UNKNOWN;
  int fileIndex = 0;  // capture file and packet number of its first packet
  uint64_t firstPacket = 0;
  uint64_t packets = 0;
  int64_t lost = 0;     // as tshark counts
  int64_t missing = 0;  // sequence numbers that never arrived
  uint64_t duplicates = 0;
  uint64_t outOfOrder = 0;
  uint64_t late = 0;  // arrived after their place was played
  double maxDeltaMs = 0;
  double meanJitterMs = 0;
  double maxJitterMs = 0;
  double jitterMs = 0;  // RFC 3550 J at the end of the stream
  int64_t firstNs = 0, lastNs = 0;
  int64_t startNs = 0;  // capture time of the WAV's first sample
  int64_t samples = 0, concealed = 0, silence = 0;
  // The stereo call file it is part of, DIR/call-<left ssrc>-<right ssrc>[-<number>].wav.
  uint32_t mixNumber = 0;  // 0: none
  uint32_t mixLeft = 0, mixRight = 0;
};

// The reports, kept in chunks of fixed size (a capture may hold a hundred
// thousand streams: no reallocation doubling the peak), read in the order
// Sort gave.
class StreamReports {
 public:
  void push_back(StreamReport r);
  size_t size() const { return order_.size(); }
  bool empty() const { return order_.empty(); }
  StreamReport& operator[](size_t i) { return At(order_[i]); }
  const StreamReport& operator[](size_t i) const {
    return const_cast<StreamReports*>(this)->At(order_[i]);
  }
  template <typename Less>
  void Sort(Less less) {
    std::sort(order_.begin(), order_.end(),
              [&](uint32_t a, uint32_t b) { return less(At(a), At(b)); });
  }

 private:
  static constexpr size_t CHUNK = 4096;
  StreamReport& At(uint32_t i) { return chunks_[i / CHUNK][i % CHUNK]; }
  std::vector<std::vector<StreamReport>> chunks_;
  std::vector<uint32_t> order_;
};

std::string StreamFile(const std::string& dir, const StreamReport& r);  // "" when none
std::string MixFile(const std::string& dir, const StreamReport& r);     // "" when none

class Extractor {
 public:
  explicit Extractor(ExtractSettings settings);
  ~Extractor();
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  // Reads one capture to its end or to the damage that stops it (reported as an
  // error; the packets before it are used).
  void Read(CaptureFile& capture, const std::function<void(double)>& progress = {});
  // Finishes every stream, writes the stereo call files, checks that something
  // was found.
  void Finish();

  const StreamReports& Reports() const { return reports_; }
  // Each "FILE: packet N: ..."; exit 1.
  std::vector<std::string> Errors() const { return Messages(true); }
  // Worth knowing, not failures.
  std::vector<std::string> Warnings() const { return Messages(false); }

 private:
  struct Stream;
  struct Problem {
    bool error = false;
    std::string first;  // message for the first occurrence
    uint64_t more = 0;  // further occurrences
  };

  void Packet(const CapturedPacket& p);
  void Datagram(const IpPacket& ip, const CapturedPacket& p);
  void Udp(const IpPacket& ip, const UdpDatagram& udp, const CapturedPacket& p);
  void Sip(const SipMessage& m, int64_t nowNs);
  void Housekeeping(int64_t nowNs);
  Stream& NewStream(const StreamKey& key, const HeldPacket& first);
  void Feed(Stream& s, uint64_t number, int64_t timeNs, bool cut, const RtpHeader& rtp);
  void Close(std::map<StreamKey, std::unique_ptr<Stream>>::iterator it);
  void OpenOutput(Stream& s, PayloadKind kind);
  void WriteMixes();
  void WriteMix(StreamReport& a, StreamReport& b);
  PayloadType Resolve(Stream& s, int pt);
  void TakeFragmentDrops();
  // Records a problem under `kind`; later ones of the same kind only count.
  void Note(bool error, const std::string& kind, const std::string& message);
  std::vector<std::string> Messages(bool errors) const;
  std::string Where(int fileIndex, uint64_t packet) const;
  std::string Describe(const Stream& s) const;

  ExtractSettings settings_;
  std::vector<std::string> files_;
  int fileIndex_ = -1;
  int linkType_ = 0;
  IpReassembler reassembler_;
  TcpSipStreams tcpSip_;
  SdpDirectory sdp_;
  RtpDetector detector_;
  std::map<StreamKey, std::unique_ptr<Stream>> streams_;
  StreamReports reports_;
  std::unordered_map<uint64_t, uint32_t> fileNames_;  // (ssrc, codec) -> names taken
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> mixNames_;
  int64_t lastHousekeepingNs_ = 0;
  uint64_t nextStreamIndex_ = 0;
  std::vector<uint64_t> packetsPerFile_;
  uint64_t udpDatagrams_ = 0;
  std::map<std::string, size_t> problemIndex_;  // kind -> index in problems_
  std::vector<Problem> problems_;               // in the order first seen
};

}  // namespace zv::extract
