// What an RTP payload type stands for: RFC 3551's static assignments, SDP
// encoding names, and the codec names the command line takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv::extract {

enum class PayloadKind : uint8_t {
  UNKNOWN,        // a dynamic type nobody has mapped
  PCMU,           // G.711 mu-law, 8 kHz
  PCMA,           // G.711 A-law, 8 kHz
  DVI4,           // IMA ADPCM with the 4-byte DVI4 header, 8 kHz
  ADPCM2,         // the two-bit codec, four codes per byte
  COMFORT_NOISE,  // RFC 3389 CN: the sender is silent
  EVENT,          // RFC 4733 telephone-event and other non-speech in-band data
  UNSUPPORTED,    // audio in a codec this tool does not decode (GSM, G.729, ...)
  NOT_AUDIO,      // video and other media
};

struct PayloadType {
  PayloadKind kind = PayloadKind::UNKNOWN;
  uint32_t clockRate = 0;  // RTP clock in Hz, 0 when unknown
  std::string name;        // "PCMU", "GSM", "telephone-event", ...
};

inline bool IsSpeech(PayloadKind k) {
  return k == PayloadKind::PCMU || k == PayloadKind::PCMA || k == PayloadKind::DVI4 ||
         k == PayloadKind::ADPCM2;
}

// RFC 3551 tables 4 and 5; UNKNOWN for dynamic and unassigned numbers.
PayloadType StaticPayloadType(int pt);

// From an SDP a=rtpmap encoding name and clock rate (names compare without case).
PayloadType PayloadTypeFromEncoding(std::string_view name, uint32_t clockRate,
                                    bool audioMedia = true);

// The codecs --pt takes: the tool's names (ulaw, alaw, ima, adpcm2), their
// aliases (mulaw, pcmu, pcma, dvi, dvi4) and the SDP names, without case.
std::optional<PayloadKind> PayloadKindFromUserName(std::string_view name);

// The tool's name of a speech codec ("ulaw", ...), used in file names.
const char* ToolCodecName(PayloadKind k);
// The library codec type (1..4) of a speech codec.
int LibraryCodecType(PayloadKind k);

}  // namespace zv::extract
