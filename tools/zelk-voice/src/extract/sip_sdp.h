// SIP messages (RFC 3261) and the SDP bodies (RFC 4566) they carry, read only
// as far as finding where each call's audio goes and which codec each dynamic
// payload type names.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packet_layers.h"
#include "payload_types.h"

namespace zv::extract {

struct Endpoint {
  IpAddress address;
  uint16_t port = 0;
  auto operator<=>(const Endpoint&) const = default;
};

std::string ToString(const Endpoint& e);  // 192.0.2.1:5004, [2001:db8::1]:5004

struct SdpMedia {
  Endpoint endpoint;  // where this side receives the media
  bool audio = false;
  std::vector<int> formats;                 // payload types on the m= line
  std::map<int, PayloadType> payloadTypes;  // from a=rtpmap
  std::string callId;                       // of the SIP message that carried it
};

// The media descriptions of an SDP body; media with port 0 (refused) or an
// unspecified address (0.0.0.0, on hold) are left out.
std::vector<SdpMedia> ParseSdp(std::string_view body);

bool LooksLikeSip(Bytes data);

struct SipMessage {
  size_t length = 0;  // bytes of the whole message, headers and body
  bool request = false;
  std::string method;  // request method, or the CSeq method of a response
  std::string callId;
  std::vector<SdpMedia> media;
};

enum class SipParse { OK, INCOMPLETE, NOT_SIP };

// One message from the start of `data`. On a stream (TCP) the body ends where
// Content-Length says and INCOMPLETE asks for more bytes; in a datagram the
// message ends with the datagram.
SipParse ParseSipMessage(Bytes data, bool stream, SipMessage& out);

// Payload-type maps learned from SDP, by the address and port that receive
// the media, latest first, in bounded memory.
class SdpDirectory {
 public:
  explicit SdpDirectory(size_t maxEndpoints = 8192) : maxEndpoints_(maxEndpoints) {}

  void Learn(const SipMessage& message);

  // The media description for an endpoint, or nullptr.
  const SdpMedia* Find(const Endpoint& e) const;
  // A payload type's meaning when every SDP seen so far agrees on it.
  std::optional<PayloadType> Consensus(int pt) const;
  size_t Size() const { return byEndpoint_.size(); }

 private:
  size_t maxEndpoints_;
  uint64_t clock_ = 0;
  std::map<Endpoint, std::pair<uint64_t, SdpMedia>> byEndpoint_;  // (when learned, media)
  // Per payload type: the meaning all SDPs gave it, or an ambiguous mark.
  std::map<int, std::optional<PayloadType>> consensus_;
};

// SIP over TCP: per connection, the bytes of the stream in order, cut into
// messages. Bounded: at most maxConnections, each holding at most maxBuffer bytes.
class TcpSipStreams {
 public:
  TcpSipStreams(size_t maxConnections = 1024, size_t maxBuffer = 65536)
      : maxConnections_(maxConnections), maxBuffer_(maxBuffer) {}

  // Feeds one segment; complete messages are appended to `messages`.
  void Add(const IpPacket& ip, const TcpSegment& tcp, std::vector<SipMessage>& messages);

 private:
  struct Key {
    Endpoint src, dst;
    auto operator<=>(const Key&) const = default;
  };
  struct Connection {
    uint32_t nextSeq = 0;
    uint64_t lastUse = 0;
    std::vector<uint8_t> buffer;
  };
  size_t maxConnections_;
  size_t maxBuffer_;
  uint64_t clock_ = 0;
  std::map<Key, Connection> connections_;
};

}  // namespace zv::extract
