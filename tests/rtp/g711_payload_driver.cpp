// Drives the G.711 payload functions over a stream for an outside oracle:
//   g711_payload_driver encode|decode alaw|ulaw  < input > output
// encode reads 16-bit little-endian samples and writes payload bytes; decode
// reads payload bytes and writes 16-bit little-endian samples. The stream is
// cut into blocks whose lengths cycle through frame sizes and odd ones, so
// every block length path is taken.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "zelk_voice_rtp.h"

namespace {

constexpr size_t BLOCK_LENGTHS[] = {160, 1, 80, 479, 240, 37, 480, 200, 3, 320, 400, 81};

std::vector<uint8_t> ReadAll() {
  std::vector<uint8_t> data;
  uint8_t buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    data.insert(data.end(), buffer, buffer + got);
  }
  return data;
}

int Fail(const char* what, uint32_t status) {
  std::fprintf(stderr, "g711_payload_driver: %s failed: 0x%08X\n", what,
               static_cast<unsigned>(status));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s encode|decode alaw|ulaw\n", argv[0]);
    return 2;
  }
  const bool encode = std::strcmp(argv[1], "encode") == 0;
  const int32_t codec = std::strcmp(argv[2], "alaw") == 0 ? G711_ALAW : G711_ULAW;
  const std::vector<uint8_t> in = ReadAll();
  VoiceCodecState state;
  ZELK_VOICE_EncReset(&state, codec);
  std::vector<uint8_t> out;
  size_t at = 0, which = 0;
  const size_t unit = encode ? 2 : 1;  // input bytes per sample
  while (at < in.size()) {
    const size_t n =
        std::min(BLOCK_LENGTHS[which++ % std::size(BLOCK_LENGTHS)], (in.size() - at) / unit);
    if (n == 0) break;
    if (encode) {
      int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
      for (size_t i = 0; i < n; ++i) {
        pcm[i] = static_cast<int16_t>(in[at + 2 * i] | in[at + 2 * i + 1] << 8);
      }
      uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
      size_t bytes = 0;
      const uint32_t s = ZELK_RTP_EncodePayload(&state, pcm, static_cast<int32_t>(n), codec,
                                                payload, sizeof payload, &bytes);
      if (s != ZELK_RTP_OK) return Fail("EncodePayload", s);
      out.insert(out.end(), payload, payload + bytes);
    } else {
      int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
      size_t count = 0;
      const uint32_t s =
          ZELK_RTP_DecodePayload(&state, &in[at], n, codec, pcm, ZELK_VOICE_MAX_SAMPLES, &count);
      if (s != ZELK_RTP_OK) return Fail("DecodePayload", s);
      for (size_t i = 0; i < count; ++i) {
        const auto u = static_cast<uint16_t>(pcm[i]);
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
      }
    }
    at += n * unit;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
