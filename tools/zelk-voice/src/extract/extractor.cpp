#include "extractor.h"

#include <fmt/format.h>
#include <zelk_voice_rtp.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "../failure.h"
#include "playout.h"
#include "rtp_stats.h"
#include "stream_decoder.h"
#include "wav_writer.h"

namespace zv::extract {

namespace {
constexpr int64_t HOUSEKEEPING_NS = 1'000'000'000;
}

struct Extractor::Stream final : PlayoutSink {
  Stream(Extractor& o, const StreamKey& k) : owner(o), key(k) {}

  bool Play(const PlayoutPacket& p, long skip) override {
    if (!wav && !failed) owner.OpenOutput(*this, p.kind);
    if (failed) return true;  // the output is gone; keep the figures going
    std::string why;
    if (decoder->Decode(p.kind, p.payload, skip, why)) return true;
    owner.Note(true, fmt::format("refused-{}-{}", index, why),
               fmt::format("{}: {}: {} payload of {} bytes refused: {}",
                           owner.Where(p.fileIndex, p.number), owner.Describe(*this),
                           ToolCodecName(p.kind), p.payload.size(), why));
    return false;
  }
  void Conceal(int64_t n) override {
    if (decoder) {
      decoder->Conceal(n);
    } else {
      pendingSilence += n;
    }
  }
  void Silence(int64_t n) override {
    if (decoder) {
      decoder->Silence(n);
    } else {
      pendingSilence += n;
    }
  }

  Extractor& owner;
  StreamKey key;
  uint64_t index = 0;
  int fileIndex = 0;
  uint64_t firstPacket = 0;
  RtpStreamStats stats;
  TimestampUnwrapper stamps;
  Playout playout{*this};
  std::map<int, PayloadType> types;  // resolved payload types
  std::string firstLabel;            // what its first packet carried
  PayloadKind codec = PayloadKind::UNKNOWN;
  std::string callId;
  int64_t lastSeenNs = 0;
  int64_t endAtNs = INT64_MAX;
  std::unique_ptr<WavWriter> wav;
  uint32_t fileNumber = 0;
  PayloadKind fileCodec = PayloadKind::UNKNOWN;
  std::unique_ptr<StreamDecoder> decoder;
  int64_t pendingSilence = 0;  // time placed before the output existed
  bool failed = false;         // the output could not be written
};

void StreamReports::push_back(StreamReport r) {
  if (chunks_.empty() || chunks_.back().size() == CHUNK) {
    chunks_.emplace_back();
    chunks_.back().reserve(CHUNK);
  }
  chunks_.back().push_back(std::move(r));
  order_.push_back(static_cast<uint32_t>(order_.size()));
}

Extractor::Extractor(ExtractSettings settings) : settings_(std::move(settings)) {}
Extractor::~Extractor() = default;

std::string Extractor::Where(int fileIndex, uint64_t packet) const {
  const std::string& file = files_.at(static_cast<size_t>(fileIndex));
  return packet ? fmt::format("{}: packet {}", file, packet) : file;
}

std::string Extractor::Describe(const Stream& s) const {
  return fmt::format("stream 0x{:08X} ({} -> {})", s.key.ssrc, ToString(s.key.src),
                     ToString(s.key.dst));
}

void Extractor::Note(bool error, const std::string& kind, const std::string& message) {
  const auto [it, fresh] = problemIndex_.try_emplace(kind, problems_.size());
  if (fresh) {
    problems_.push_back({error, message, 0});
  } else {
    ++problems_[it->second].more;
  }
}

std::vector<std::string> Extractor::Messages(bool errors) const {
  std::vector<std::string> out;
  for (const Problem& p : problems_) {
    if (p.error != errors) continue;
    out.push_back(p.more ? fmt::format("{} (and {} more like it)", p.first, p.more) : p.first);
  }
  return out;
}

void Extractor::Read(CaptureFile& capture, const std::function<void(double)>& progress) {
  files_.push_back(capture.Path());
  packetsPerFile_.push_back(0);
  linkType_ = capture.LinkType();
  ++fileIndex_;
  CapturedPacket p;
  for (;;) {
    const CaptureFile::Next next = capture.Read(p);
    if (next == CaptureFile::Next::END) break;
    if (next == CaptureFile::Next::DAMAGED) {
      Note(true, fmt::format("damaged-{}", fileIndex_),
           capture.DamageMessage() + "; the packets before it were used");
      break;
    }
    ++packetsPerFile_.back();
    try {
      Packet(p);
    } catch (const Failure& f) {
      Note(true, fmt::format("failure-{}", f.what()), f.what());
    }
    if (progress && (p.number & 4095) == 0 && capture.Size() > 0) {
      progress(static_cast<double>(capture.Position()) / static_cast<double>(capture.Size()));
    }
  }
}

void Extractor::Packet(const CapturedPacket& p) {
  if (p.timeNs - lastHousekeepingNs_ >= HOUSEKEEPING_NS || p.timeNs < lastHousekeepingNs_) {
    Housekeeping(p.timeNs);
  }
  const NetworkBytes n = StripLinkLayer(linkType_, p.data);
  if (n.network == Network::OTHER) return;
  IpPacket ip;
  const IpParse r = ParseIp(n, ip);
  if (r == IpParse::MALFORMED) {
    Note(false, "malformed-ip",
         fmt::format("{}: not a valid IP header; skipped", Where(fileIndex_, p.number)));
    return;
  }
  if (r != IpParse::OK) return;
  if (!ip.fragment) {
    Datagram(ip, p);
    return;
  }
  IpPacket whole;
  const bool complete = reassembler_.Add(ip, p.timeNs, p.number, whole);
  TakeFragmentDrops();
  if (complete) Datagram(whole, p);
}

void Extractor::TakeFragmentDrops() {
  for (const FragmentDrop& d : reassembler_.TakeDrops()) {
    const char* why = d.fault == FragmentFault::INCOMPLETE ? "fragments missing"
                      : d.fault == FragmentFault::CONFLICT ? "fragments that contradict each other"
                      : d.fault == FragmentFault::TOO_LONG ? "longer than an IP datagram can be"
                                                           : "a fragment cut short by the capture";
    Note(false, fmt::format("fragments-{}", static_cast<int>(d.fault)),
         fmt::format("{}: IP datagram not reassembled ({}); skipped",
                     Where(fileIndex_, d.firstPacket), why));
  }
}

void Extractor::Datagram(const IpPacket& ip, const CapturedPacket& p) {
  if (ip.protocol == PROTO_UDP) {
    UdpDatagram udp;
    if (ParseUdp(ip.payload, udp)) {
      udp.cut = udp.cut || ip.cut;
      Udp(ip, udp, p);
    }
  } else if (ip.protocol == PROTO_TCP) {
    TcpSegment tcp;
    if (!ParseTcp(ip.payload, tcp)) return;
    std::vector<SipMessage> messages;
    tcpSip_.Add(ip, tcp, messages);
    for (const SipMessage& m : messages) Sip(m, p.timeNs);
  }
}

void Extractor::Sip(const SipMessage& m, int64_t nowNs) {
  sdp_.Learn(m);
  if (m.request && m.method == "BYE" && !m.callId.empty()) {
    for (auto& [key, s] : streams_) {
      if (s->callId == m.callId) s->endAtNs = std::min(s->endAtNs, nowNs + settings_.byeGraceNs);
    }
  }
}

void Extractor::Udp(const IpPacket& ip, const UdpDatagram& udp, const CapturedPacket& p) {
  ++udpDatagrams_;
  if (LooksLikeSip(udp.payload)) {
    SipMessage m;
    if (ParseSipMessage(udp.payload, false, m) == SipParse::OK) Sip(m, p.timeNs);
    return;
  }
  RtpHeader rtp;
  if (!ParseRtp(udp.payload, rtp)) return;
  const StreamKey key{{ip.src, udp.srcPort}, {ip.dst, udp.dstPort}, rtp.ssrc};
  if (const auto it = streams_.find(key); it != streams_.end()) {
    Feed(*it->second, p.number, p.timeNs, udp.cut, rtp);
    return;
  }
  const SdpMedia* toMedia = sdp_.Find(key.dst);
  const SdpMedia* fromMedia = sdp_.Find(key.src);
  if ((toMedia && !toMedia->audio) || (fromMedia && !fromMedia->audio) ||
      StaticPayloadType(rtp.payloadType).kind == PayloadKind::NOT_AUDIO) {
    return;  // video and other media
  }
  HeldPacket held{p.number, p.timeNs, udp.cut,
                  std::vector<uint8_t>(udp.payload.begin(), udp.payload.end())};
  std::vector<HeldPacket> confirmed;
  if (!detector_.Offer(key, rtp, std::move(held), toMedia || fromMedia, confirmed)) return;
  Stream& s = NewStream(key, confirmed.front());
  for (const HeldPacket& h : confirmed) {
    RtpHeader kept;  // parsed once already when it was offered
    if (ParseRtp(h.udpPayload, kept)) Feed(s, h.number, h.timeNs, h.cut, kept);
  }
}

Extractor::Stream& Extractor::NewStream(const StreamKey& key, const HeldPacket& first) {
  auto s = std::make_unique<Stream>(*this, key);
  s->index = nextStreamIndex_++;
  s->fileIndex = fileIndex_;
  s->firstPacket = first.number;
  if (const SdpMedia* m = sdp_.Find(key.dst)) {
    s->callId = m->callId;
  } else if (const SdpMedia* from = sdp_.Find(key.src)) {
    s->callId = from->callId;
  }
  Stream& ref = *s;
  streams_.emplace(key, std::move(s));
  return ref;
}

PayloadType Extractor::Resolve(Stream& s, int pt) {
  if (const auto it = s.types.find(pt); it != s.types.end()) return it->second;
  PayloadType t;
  if (const auto o = settings_.payloadTypes.find(pt); o != settings_.payloadTypes.end()) {
    t = {o->second, 8000, ToolCodecName(o->second)};
  } else {
    for (const Endpoint* e : {&s.key.dst, &s.key.src}) {
      const SdpMedia* m = sdp_.Find(*e);
      if (!m) continue;
      if (const auto it = m->payloadTypes.find(pt); it != m->payloadTypes.end()) {
        t = it->second;
        break;
      }
    }
    if (t.kind == PayloadKind::UNKNOWN) t = StaticPayloadType(pt);
    if (t.kind == PayloadKind::UNKNOWN) {
      if (auto c = sdp_.Consensus(pt)) t = *c;
    }
  }
  if (t.kind != PayloadKind::UNKNOWN) s.types[pt] = t;  // unknown ones are asked again
  return t;
}

void Extractor::Feed(Stream& s, uint64_t number, int64_t timeNs, bool cut, const RtpHeader& rtp) {
  s.lastSeenNs = timeNs;
  const PayloadType t = Resolve(s, rtp.payloadType);
  const int64_t seq = s.stats.Add(timeNs, rtp, t.clockRate);
  if (s.firstLabel.empty()) {
    s.firstLabel = t.kind == PayloadKind::UNKNOWN ? fmt::format("PT {}", rtp.payloadType) : t.name;
  }
  // Only the messages below name the packet.
  const auto where = [&] { return Where(fileIndex_, number); };
  switch (t.kind) {
    case PayloadKind::UNKNOWN:
      Note(true, fmt::format("unknown-{}-{}", s.index, rtp.payloadType),
           fmt::format("{}: {}: payload type {} has no codec: no SDP a=rtpmap maps it "
                       "(name one with --pt {}=CODEC)",
                       where(), Describe(s), rtp.payloadType, rtp.payloadType));
      break;
    case PayloadKind::UNSUPPORTED:
      Note(true, fmt::format("unsupported-{}-{}", s.index, rtp.payloadType),
           fmt::format("{}: {}: payload type {} is {}, which zelk-voice does not decode "
                       "(it decodes PCMU, PCMA, DVI4/8000 and {}/8000)",
                       where(), Describe(s), rtp.payloadType, t.name,
                       ZELK_RTP_ADPCM2_ENCODING_NAME));
      break;
    default:
      break;
  }
  PlayoutPacket pp;
  pp.seq = seq;
  pp.ts = s.stamps.Unwrap(rtp.timestamp);
  pp.arrivalNs = timeNs;
  pp.number = number;
  pp.fileIndex = fileIndex_;
  pp.kind = t.kind;
  if (IsSpeech(t.kind)) {
    if (s.codec == PayloadKind::UNKNOWN) s.codec = t.kind;
    if (cut) {
      Note(false, fmt::format("cut-{}", s.index),
           fmt::format("{}: {}: packet captured shorter than it was sent (snapshot length); its "
                       "time is concealed",
                       where(), Describe(s)));
    } else {
      pp.samples = StreamDecoder::PayloadSamples(t.kind, rtp.payload.size());
      if (pp.samples < 0) {
        Note(true, fmt::format("size-{}", s.index),
             fmt::format("{}: {}: a {} payload of {} bytes does not fit the codec; its time is "
                         "concealed",
                         where(), Describe(s), t.name, rtp.payload.size()));
        pp.samples = 0;
      } else {
        pp.payload.assign(rtp.payload.begin(), rtp.payload.end());
      }
    }
  }
  try {
    s.playout.Push(std::move(pp));
  } catch (const Failure& f) {
    Note(true, fmt::format("output-{}", s.index), f.what());
    s.failed = true;
    s.wav.reset();
  }
}

std::string StreamFile(const std::string& dir, const StreamReport& r) {
  if (r.fileNumber == 0) return "";
  const std::string suffix = r.fileNumber > 1 ? fmt::format("-{}", r.fileNumber) : "";
  return (std::filesystem::path(dir) /
          fmt::format("{:08x}-{}{}.wav", r.key.ssrc, ToolCodecName(r.fileCodec), suffix))
      .string();
}

std::string MixFile(const std::string& dir, const StreamReport& r) {
  if (r.mixNumber == 0) return "";
  const std::string suffix = r.mixNumber > 1 ? fmt::format("-{}", r.mixNumber) : "";
  return (std::filesystem::path(dir) /
          fmt::format("call-{:08x}-{:08x}{}.wav", r.mixLeft, r.mixRight, suffix))
      .string();
}

void Extractor::OpenOutput(Stream& s, PayloadKind kind) {
  s.fileNumber = ++fileNames_[uint64_t{s.key.ssrc} << 8 | static_cast<uint8_t>(kind)];
  s.fileCodec = kind;
  StreamReport naming;
  naming.key = s.key;
  naming.fileNumber = s.fileNumber;
  naming.fileCodec = kind;
  const std::string path = StreamFile(settings_.outputDir, naming);
  try {
    s.wav = std::make_unique<WavWriter>(path, 1);
    WavWriter* wav = s.wav.get();
    s.decoder =
        std::make_unique<StreamDecoder>([wav](std::span<const int16_t> pcm) { wav->Write(pcm); });
    s.decoder->Silence(s.pendingSilence);
    s.pendingSilence = 0;
  } catch (const Failure& f) {
    Note(true, fmt::format("output-{}", s.index), f.what());
    s.failed = true;
    s.wav.reset();
    s.decoder.reset();
  }
}

void Extractor::Housekeeping(int64_t nowNs) {
  lastHousekeepingNs_ = nowNs;
  detector_.Expire(nowNs);
  reassembler_.Expire(nowNs);
  TakeFragmentDrops();
  for (auto it = streams_.begin(); it != streams_.end();) {
    auto next = std::next(it);
    const Stream& s = *it->second;
    if (nowNs - s.lastSeenNs > settings_.idleTimeoutNs || nowNs > s.endAtNs) Close(it);
    it = next;
  }
}

void Extractor::Close(std::map<StreamKey, std::unique_ptr<Stream>>::iterator it) {
  Stream& s = *it->second;
  try {
    s.playout.Flush();
    if (s.wav && !s.failed) s.wav->Commit();
  } catch (const Failure& f) {
    Note(true, fmt::format("output-{}", s.index), f.what());
    s.failed = true;
  }
  StreamReport r;
  r.key = s.key;
  r.codec = IsSpeech(s.codec) ? ToolCodecName(s.codec) : s.firstLabel;
  if (s.wav && !s.failed) {
    r.fileNumber = s.fileNumber;
    r.fileCodec = s.fileCodec;
  }
  r.fileIndex = s.fileIndex;
  r.firstPacket = s.firstPacket;
  r.packets = s.stats.Packets();
  r.lost = s.stats.Lost();
  r.missing = s.stats.Missing();
  r.duplicates = s.stats.Duplicates();
  r.outOfOrder = s.stats.OutOfOrder();
  r.late = s.playout.Counts().late;
  r.maxDeltaMs = s.stats.MaxDeltaMs();
  r.meanJitterMs = s.stats.MeanJitterMs();
  r.maxJitterMs = s.stats.MaxJitterMs();
  r.jitterMs = s.stats.JitterMs();
  r.firstNs = s.stats.FirstNs();
  r.lastNs = s.stats.LastNs();
  r.startNs = s.playout.StartNs();
  r.samples = s.playout.Samples();
  r.concealed = s.playout.Counts().concealed;
  r.silence = s.playout.Counts().silence;
  reports_.push_back(std::move(r));
  streams_.erase(it);
}

void Extractor::Finish() {
  while (!streams_.empty()) Close(streams_.begin());
  reassembler_.Finish();
  TakeFragmentDrops();
  reports_.Sort([](const StreamReport& a, const StreamReport& b) {
    return std::tie(a.fileIndex, a.firstPacket, a.key) <
           std::tie(b.fileIndex, b.firstPacket, b.key);
  });
  if (settings_.mix) WriteMixes();
  if (reports_.empty()) {
    for (size_t i = 0; i < files_.size(); ++i) {
      Note(true, fmt::format("nothing-{}", i),
           fmt::format("{}: no RTP stream found ({} packets read, {} UDP datagrams in all)",
                       files_[i], packetsPerFile_[i], udpDatagrams_));
    }
  }
}

void Extractor::WriteMixes() {
  // The other direction of a stream has the addresses reversed; of several,
  // the one that started nearest in time pairs with it.
  using Direction = std::pair<Endpoint, Endpoint>;
  std::vector<std::pair<Direction, uint32_t>> byDirection;  // sorted, for equal_range
  for (size_t i = 0; i < reports_.size(); ++i) {
    if (reports_[i].fileNumber) {
      byDirection.push_back({{reports_[i].key.src, reports_[i].key.dst}, static_cast<uint32_t>(i)});
    }
  }
  std::sort(byDirection.begin(), byDirection.end());
  for (size_t i = 0; i < reports_.size(); ++i) {
    StreamReport& a = reports_[i];
    if (a.fileNumber == 0 || a.mixNumber != 0) continue;
    const Direction back{a.key.dst, a.key.src};
    const auto [from, to] = std::equal_range(
        byDirection.begin(), byDirection.end(), std::pair<Direction, uint32_t>{back, 0},
        [](const auto& x, const auto& y) { return x.first < y.first; });
    StreamReport* best = nullptr;
    for (auto it = from; it != to; ++it) {
      const size_t j = it->second;
      StreamReport& b = reports_[j];
      if (j <= i || b.mixNumber != 0) continue;
      if (!best || std::llabs(b.startNs - a.startNs) < std::llabs(best->startNs - a.startNs)) {
        best = &b;
      }
    }
    if (!best) continue;
    try {
      WriteMix(a, *best);
    } catch (const Failure& f) {
      Note(true, fmt::format("mix-{}", i), f.what());
    }
  }
}

void Extractor::WriteMix(StreamReport& a, StreamReport& b) {
  StreamReport naming;
  naming.mixLeft = a.key.ssrc;
  naming.mixRight = b.key.ssrc;
  naming.mixNumber = ++mixNames_[{a.key.ssrc, b.key.ssrc}];
  const std::string path = MixFile(settings_.outputDir, naming);
  // Aligned by capture time: the later stream starts after leading silence.
  const int64_t offset = static_cast<int64_t>(
      std::llround(static_cast<double>(b.startNs - a.startNs) * PLAYOUT_RATE / 1e9));
  WavReader left(StreamFile(settings_.outputDir, a)), right(StreamFile(settings_.outputDir, b));
  WavReader* readers[2] = {&left, &right};
  int64_t lead[2] = {std::max<int64_t>(0, -offset), std::max<int64_t>(0, offset)};
  const int64_t total = std::max(lead[0] + left.Samples(), lead[1] + right.Samples());
  WavWriter out(path, 2);
  constexpr int64_t BLOCK = 4096;
  std::vector<int16_t> channel[2] = {std::vector<int16_t>(BLOCK), std::vector<int16_t>(BLOCK)};
  std::vector<int16_t> both(2 * BLOCK);
  for (int64_t done = 0; done < total; done += BLOCK) {
    const auto frames = static_cast<size_t>(std::min(BLOCK, total - done));
    for (int c = 0; c < 2; ++c) {
      std::vector<int16_t>& buf = channel[c];
      std::fill(buf.begin(), buf.end(), 0);
      const auto zeros =
          static_cast<size_t>(std::min<int64_t>(lead[c], static_cast<int64_t>(frames)));
      lead[c] -= static_cast<int64_t>(zeros);
      readers[c]->Read(std::span<int16_t>(buf.data() + zeros, frames - zeros));
    }
    for (size_t k = 0; k < frames; ++k) {
      both[2 * k] = channel[0][k];
      both[2 * k + 1] = channel[1][k];
    }
    out.Write(std::span<const int16_t>(both.data(), 2 * frames));
  }
  out.Commit();
  for (StreamReport* r : {&a, &b}) {
    r->mixNumber = naming.mixNumber;
    r->mixLeft = naming.mixLeft;
    r->mixRight = naming.mixRight;
  }
}

}  // namespace zv::extract
