#include "sip_sdp.h"

#include <arpa/inet.h>
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zv::extract {

namespace {

std::string_view AsText(Bytes b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

// A request's method: capital letters and '-', at least one.
bool IsMethodName(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '-'; });
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

template <typename T>
bool ParseNumber(std::string_view s, T& value) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size();
}

// Splits at the first occurrence of `sep`; `rest` is empty when there is none.
std::string_view Take(std::string_view& s, char sep) {
  const size_t at = s.find(sep);
  std::string_view head = s.substr(0, at);
  s = at == std::string_view::npos ? std::string_view() : s.substr(at + 1);
  return head;
}

std::optional<IpAddress> ParseAddress(std::string_view nettype, std::string_view addrtype,
                                      std::string_view text) {
  if (nettype != "IN") return std::nullopt;
  text = text.substr(0, text.find('/'));  // multicast TTL or count
  const std::string s(text);
  IpAddress a;
  if (addrtype == "IP4" && inet_pton(AF_INET, s.c_str(), a.bytes.data()) == 1) {
    a.family = 4;
  } else if (addrtype == "IP6" && inet_pton(AF_INET6, s.c_str(), a.bytes.data()) == 1) {
    a.family = 6;
  } else {
    return std::nullopt;  // a host name, or nonsense
  }
  if (a.bytes == std::array<uint8_t, 16>{}) return std::nullopt;  // on hold: unspecified
  return a;
}

std::optional<IpAddress> ParseConnection(std::string_view value) {
  const std::string_view nettype = Take(value, ' ');
  const std::string_view addrtype = Take(value, ' ');
  return ParseAddress(nettype, addrtype, Trim(value));
}

// "a=rtpmap:<pt> <name>/<rate>[/<channels>]"
void ParseRtpmap(std::string_view value, bool audio, SdpMedia& m) {
  int pt = 0;
  if (!ParseNumber(Take(value, ' '), pt) || pt < 0 || pt > 127) return;
  value = Trim(value);
  const std::string_view name = Take(value, '/');
  uint32_t rate = 0;
  if (!ParseNumber(Take(value, '/'), rate)) return;
  m.payloadTypes[pt] = PayloadTypeFromEncoding(name, rate, audio);
}

struct MediaDraft {
  SdpMedia media;
  std::optional<IpAddress> address;  // media-level c=, empty when on hold
  bool ownAddress = false;           // a media-level c= line was there
  bool rtp = false;
};

}  // namespace

std::string ToString(const Endpoint& e) {
  if (e.address.family == 6) return fmt::format("[{}]:{}", ToString(e.address), e.port);
  return fmt::format("{}:{}", ToString(e.address), e.port);
}

std::vector<SdpMedia> ParseSdp(std::string_view body) {
  std::optional<IpAddress> sessionAddress;
  std::vector<MediaDraft> drafts;
  while (!body.empty()) {
    std::string_view line = Trim(Take(body, '\n'));
    if (line.size() < 2 || line[1] != '=') continue;
    const char type = line[0];
    std::string_view value = line.substr(2);
    if (type == 'm') {
      MediaDraft d;
      const std::string_view media = Take(value, ' ');
      std::string_view port = Take(value, ' ');
      port = port.substr(0, port.find('/'));
      const std::string_view proto = Take(value, ' ');
      d.media.audio = media == "audio";
      d.rtp = proto.find("RTP/") != std::string_view::npos;
      if (!ParseNumber(port, d.media.endpoint.port)) d.media.endpoint.port = 0;
      while (!value.empty()) {
        int pt = 0;
        if (ParseNumber(Take(value, ' '), pt) && pt >= 0 && pt <= 127)
          d.media.formats.push_back(pt);
      }
      drafts.push_back(std::move(d));
    } else if (type == 'c') {
      if (drafts.empty()) {
        sessionAddress = ParseConnection(value);
      } else {
        drafts.back().address = ParseConnection(value);
        drafts.back().ownAddress = true;
      }
    } else if (type == 'a' && !drafts.empty() && value.starts_with("rtpmap:")) {
      ParseRtpmap(value.substr(7), drafts.back().media.audio, drafts.back().media);
    }
  }
  std::vector<SdpMedia> out;
  for (MediaDraft& d : drafts) {
    const std::optional<IpAddress> address = d.ownAddress ? d.address : sessionAddress;
    if (!d.rtp || !address || d.media.endpoint.port == 0) continue;
    d.media.endpoint.address = *address;
    out.push_back(std::move(d.media));
  }
  return out;
}

bool LooksLikeSip(Bytes data) {
  std::string_view text = AsText(data.first(std::min<size_t>(data.size(), 1024)));
  const size_t eol = text.find("\r\n");
  if (eol == std::string_view::npos) return false;
  const std::string_view first = text.substr(0, eol);
  if (first.starts_with("SIP/2.0 ")) return true;
  if (!first.ends_with(" SIP/2.0")) return false;
  return IsMethodName(first.substr(0, first.find(' ')));
}

SipParse ParseSipMessage(Bytes data, bool stream, SipMessage& out) {
  const std::string_view text = AsText(data);
  if (stream && text.size() < 1024 && text.find("\r\n") == std::string_view::npos) {
    return SipParse::INCOMPLETE;  // the start line is still arriving
  }
  if (!LooksLikeSip(data)) return SipParse::NOT_SIP;
  size_t headerEnd = text.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) {
    if (stream) return SipParse::INCOMPLETE;
    headerEnd = text.size();
  }
  out = {};
  std::string_view headers = text.substr(0, headerEnd);
  const std::string_view startLine = Take(headers, '\n');
  out.request = !startLine.starts_with("SIP/2.0 ");
  if (out.request) out.method = std::string(startLine.substr(0, startLine.find(' ')));
  std::optional<size_t> contentLength;
  std::string contentType;
  while (!headers.empty()) {
    std::string_view value = Trim(Take(headers, '\n'));
    const std::string name = Lower(Trim(Take(value, ':')));
    value = Trim(value);
    if (name == "call-id" || name == "i") {
      out.callId = std::string(value);
    } else if (name == "content-length" || name == "l") {
      size_t n = 0;
      if (ParseNumber(value, n)) contentLength = n;
    } else if (name == "content-type" || name == "c") {
      contentType = Lower(value);
    } else if (name == "cseq" && !out.request) {
      Take(value, ' ');
      out.method = std::string(Trim(value));
    }
  }
  const size_t bodyStart = std::min(text.size(), headerEnd + 4);
  size_t bodyLength = text.size() - bodyStart;
  if (stream) {
    bodyLength = contentLength.value_or(0);  // RFC 3261 requires it on streams
    if (text.size() - bodyStart < bodyLength) return SipParse::INCOMPLETE;
  } else if (contentLength) {
    bodyLength = std::min(bodyLength, *contentLength);
  }
  out.length = bodyStart + bodyLength;
  std::string_view body = text.substr(bodyStart, bodyLength);
  if (contentType.starts_with("multipart/")) {
    // The SDP part of a multipart body, up to the next boundary line.
    const size_t at = body.find("v=0");
    body = at == std::string_view::npos ? std::string_view() : body.substr(at);
    body = body.substr(0, body.find("\r\n--"));
    contentType = "application/sdp";
  }
  if (contentType.starts_with("application/sdp")) out.media = ParseSdp(body);
  return SipParse::OK;
}

void SdpDirectory::Learn(const SipMessage& message) {
  for (const SdpMedia& m : message.media) {
    auto& entry = byEndpoint_[m.endpoint];
    entry = {++clock_, m};
    entry.second.callId = message.callId;
    for (const auto& [pt, type] : m.payloadTypes) {
      auto [it, fresh] = consensus_.try_emplace(pt, type);
      if (!fresh && it->second && it->second->kind != type.kind) it->second = std::nullopt;
    }
  }
  while (byEndpoint_.size() > maxEndpoints_) {
    auto oldest = std::min_element(byEndpoint_.begin(), byEndpoint_.end(), [](auto& a, auto& b) {
      return a.second.first < b.second.first;
    });
    byEndpoint_.erase(oldest);
  }
}

const SdpMedia* SdpDirectory::Find(const Endpoint& e) const {
  const auto it = byEndpoint_.find(e);
  return it == byEndpoint_.end() ? nullptr : &it->second.second;
}

std::optional<PayloadType> SdpDirectory::Consensus(int pt) const {
  const auto it = consensus_.find(pt);
  if (it == consensus_.end()) return std::nullopt;
  return it->second;
}

namespace {

// A stream may begin with a segment that ends inside the start line.
bool CouldStartSip(Bytes p) {
  if (LooksLikeSip(p)) return true;
  const std::string_view text = AsText(p.first(std::min<size_t>(p.size(), 1024)));
  if (text.empty() || text.find("\r\n") != std::string_view::npos) return false;
  if (std::string_view("SIP/2.0 ").starts_with(text.substr(0, 8))) {
    return true;
  }
  return IsMethodName(text.substr(0, text.find(' '))) &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c < 127; });
}

}  // namespace

void TcpSipStreams::Add(const IpPacket& ip, const TcpSegment& tcp,
                        std::vector<SipMessage>& messages) {
  const Key key{{ip.src, tcp.srcPort}, {ip.dst, tcp.dstPort}};
  auto it = connections_.find(key);
  const bool closing = (tcp.flags & (TCP_FIN | TCP_RST)) != 0;
  Bytes p = tcp.payload;
  if (!p.empty()) {
    if (it == connections_.end()) {
      if (!CouldStartSip(p)) return;
      if (connections_.size() >= maxConnections_) {
        connections_.erase(
            std::min_element(connections_.begin(), connections_.end(),
                             [](auto& a, auto& b) { return a.second.lastUse < b.second.lastUse; }));
      }
      it = connections_.emplace(key, Connection{}).first;
      it->second.nextSeq = tcp.seq;
    }
    Connection& c = it->second;
    c.lastUse = ++clock_;
    const auto ahead = static_cast<int32_t>(tcp.seq - c.nextSeq);
    if (ahead > 0) {
      // A gap: what was buffered can never complete. Start again here if a message starts here.
      c.buffer.clear();
      if (!CouldStartSip(p)) {
        connections_.erase(it);
        return;
      }
      c.nextSeq = tcp.seq;
    } else if (ahead < 0) {
      const size_t repeated = static_cast<size_t>(-static_cast<int64_t>(ahead));
      if (repeated >= p.size()) return;  // a retransmission of what we have
      p = p.subspan(repeated);
    }
    c.buffer.insert(c.buffer.end(), p.begin(), p.end());
    c.nextSeq += static_cast<uint32_t>(p.size());
    while (!c.buffer.empty()) {
      SipMessage m;
      const SipParse r = ParseSipMessage(c.buffer, true, m);
      if (r == SipParse::OK) {
        c.buffer.erase(c.buffer.begin(), c.buffer.begin() + static_cast<ptrdiff_t>(m.length));
        messages.push_back(std::move(m));
        continue;
      }
      if (r == SipParse::NOT_SIP || c.buffer.size() > maxBuffer_) c.buffer.clear();
      break;
    }
  }
  if (closing && it != connections_.end()) connections_.erase(it);
}

}  // namespace zv::extract
