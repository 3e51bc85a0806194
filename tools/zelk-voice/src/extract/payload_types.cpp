#include "payload_types.h"

#include <fmt/format.h>
#include <zelk_voice_rtp.h>

#include <algorithm>
#include <cctype>

namespace zv::extract {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

struct StaticEntry {
  int pt;
  PayloadKind kind;
  uint32_t rate;
  const char* name;
};

// RFC 3551 section 6, audio then video.
constexpr StaticEntry STATIC_TYPES[] = {
    {0, PayloadKind::PCMU, 8000, "PCMU"},
    {3, PayloadKind::UNSUPPORTED, 8000, "GSM"},
    {4, PayloadKind::UNSUPPORTED, 8000, "G723"},
    {5, PayloadKind::DVI4, 8000, "DVI4"},
    {6, PayloadKind::UNSUPPORTED, 16000, "DVI4/16000"},
    {7, PayloadKind::UNSUPPORTED, 8000, "LPC"},
    {8, PayloadKind::PCMA, 8000, "PCMA"},
    {9, PayloadKind::UNSUPPORTED, 8000, "G722"},
    {10, PayloadKind::UNSUPPORTED, 44100, "L16"},
    {11, PayloadKind::UNSUPPORTED, 44100, "L16"},
    {12, PayloadKind::UNSUPPORTED, 8000, "QCELP"},
    {13, PayloadKind::COMFORT_NOISE, 8000, "CN"},
    {14, PayloadKind::UNSUPPORTED, 90000, "MPA"},
    {15, PayloadKind::UNSUPPORTED, 8000, "G728"},
    {16, PayloadKind::UNSUPPORTED, 11025, "DVI4/11025"},
    {17, PayloadKind::UNSUPPORTED, 22050, "DVI4/22050"},
    {18, PayloadKind::UNSUPPORTED, 8000, "G729"},
    {25, PayloadKind::NOT_AUDIO, 90000, "CelB"},
    {26, PayloadKind::NOT_AUDIO, 90000, "JPEG"},
    {28, PayloadKind::NOT_AUDIO, 90000, "nv"},
    {31, PayloadKind::NOT_AUDIO, 90000, "H261"},
    {32, PayloadKind::NOT_AUDIO, 90000, "MPV"},
    {33, PayloadKind::NOT_AUDIO, 90000, "MP2T"},
    {34, PayloadKind::NOT_AUDIO, 90000, "H263"},
};

struct NameEntry {
  const char* name;
  PayloadKind kind;
};

constexpr NameEntry USER_NAMES[] = {
    {"ulaw", PayloadKind::PCMU},     {"mulaw", PayloadKind::PCMU},
    {"pcmu", PayloadKind::PCMU},     {"alaw", PayloadKind::PCMA},
    {"pcma", PayloadKind::PCMA},     {"ima", PayloadKind::DVI4},
    {"dvi", PayloadKind::DVI4},      {"dvi4", PayloadKind::DVI4},
    {"adpcm2", PayloadKind::ADPCM2}, {ZELK_RTP_ADPCM2_ENCODING_NAME, PayloadKind::ADPCM2},
};

}  // namespace

PayloadType StaticPayloadType(int pt) {
  for (const StaticEntry& e : STATIC_TYPES) {
    if (e.pt == pt) return {e.kind, e.rate, e.name};
  }
  return {};
}

PayloadType PayloadTypeFromEncoding(std::string_view name, uint32_t rate, bool audioMedia) {
  std::string label(name);
  if (!audioMedia) return {PayloadKind::NOT_AUDIO, rate, label};
  if (EqualNoCase(name, "telephone-event") || EqualNoCase(name, "tone")) {
    return {PayloadKind::EVENT, rate, label};
  }
  if (EqualNoCase(name, "CN")) return {PayloadKind::COMFORT_NOISE, rate, label};
  if (rate == 8000) {
    if (EqualNoCase(name, "PCMU")) return {PayloadKind::PCMU, rate, label};
    if (EqualNoCase(name, "PCMA")) return {PayloadKind::PCMA, rate, label};
    if (EqualNoCase(name, "DVI4")) return {PayloadKind::DVI4, rate, label};
    if (EqualNoCase(name, ZELK_RTP_ADPCM2_ENCODING_NAME)) return {PayloadKind::ADPCM2, rate, label};
  }
  // (fmt, not string +=: GCC 12 at -O3 warns falsely about the latter)
  return {PayloadKind::UNSUPPORTED, rate, fmt::format("{}/{}", name, rate)};
}

std::optional<PayloadKind> PayloadKindFromUserName(std::string_view name) {
  for (const NameEntry& e : USER_NAMES) {
    if (EqualNoCase(name, e.name)) return e.kind;
  }
  return std::nullopt;
}

const char* ToolCodecName(PayloadKind k) {
  switch (k) {
    case PayloadKind::PCMU:
      return "ulaw";
    case PayloadKind::PCMA:
      return "alaw";
    case PayloadKind::DVI4:
      return "ima";
    case PayloadKind::ADPCM2:
      return "adpcm2";
    default:
      return "?";
  }
}

int LibraryCodecType(PayloadKind k) {
  switch (k) {
    case PayloadKind::PCMA:
      return G711_ALAW;
    case PayloadKind::PCMU:
      return G711_ULAW;
    case PayloadKind::DVI4:
      return IMA_ADPCM;
    case PayloadKind::ADPCM2:
      return ADPCM_2BIT;
    default:
      return 0;
  }
}

}  // namespace zv::extract
