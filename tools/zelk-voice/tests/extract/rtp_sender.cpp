// Sends a WAV (8 kHz, 16-bit mono) as RTP over UDP in real time, 20 ms a
// packet, with the RTP component's payloads: how the extract fixtures get
// DVI4 and two-bit streams onto the loopback for tcpdump to capture.
//
//   zelk_rtp_sender dvi4|adpcm2 PT SSRC IN.wav HOST PORT [LOCAL_PORT]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zelk_voice_rtp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<int16_t> ReadWav(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  // Chunks after the 12-byte RIFF header; the samples are in "data".
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t size;
    std::memcpy(&size, &bytes[at + 4], 4);
    if (std::memcmp(&bytes[at], "data", 4) == 0) {
      std::vector<int16_t> pcm(std::min<size_t>(size, bytes.size() - at - 8) / 2);
      std::memcpy(pcm.data(), &bytes[at + 8], pcm.size() * 2);
      return pcm;
    }
    at += 8 + size + (size & 1);
  }
  std::fprintf(stderr, "%s: no data chunk\n", path);
  std::exit(1);
}

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s dvi4|adpcm2 PT SSRC IN.wav HOST PORT [LOCAL_PORT]\n", argv[0]);
    return 2;
  }
  const int codec = std::strcmp(argv[1], "dvi4") == 0 ? IMA_ADPCM : ADPCM_2BIT;
  const auto pt = static_cast<uint8_t>(std::atoi(argv[2]));
  const auto ssrc = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
  const std::vector<int16_t> pcm = ReadWav(argv[4]);
  const int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (argc > 7) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[7])));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return 1;
  }
  sockaddr_in dest{};
  dest.sin_family = AF_INET;
  dest.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[6])));
  inet_pton(AF_INET, argv[5], &dest.sin_addr);

  VoiceCodecState state;
  ZELK_VOICE_EncReset(&state, codec);
  constexpr int N = 160;
  uint16_t seq = 1000;
  uint32_t ts = 123456;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (size_t at = 0; at + N <= pcm.size(); at += N) {
    std::vector<uint8_t> packet;
    Put(packet, 0x80, 1);
    Put(packet, (at == 0 ? 0x80u : 0u) | pt, 1);
    Put(packet, seq++, 2);
    Put(packet, ts, 4);
    Put(packet, ssrc, 4);
    ts += N;
    uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
    size_t bytes = 0;
    if (ZELK_RTP_EncodePayload(&state, pcm.data() + at, N, codec, payload, sizeof payload,
                               &bytes) != ZELK_RTP_OK) {
      return 1;
    }
    packet.insert(packet.end(), payload, payload + bytes);
    sendto(sock, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    next.tv_nsec += 20'000'000;
    if (next.tv_nsec >= 1'000'000'000) next.tv_nsec -= 1'000'000'000, ++next.tv_sec;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  close(sock);
  return 0;
}
