// Decodes RTP payloads read from stdin (each a 16-bit big-endian length, then
// its bytes, in sequence order) and writes 16-bit PCM to stdout, for
// check_extract.py:
//   dvi4    spandsp's DVI4 decoder, a peer nobody here wrote; each payload
//           carries its own state in its header.
//   adpcm2  the engine's frame decoder on the codes repacked into VoiceFrames
//           (the two-bit codec is ours alone: this checks that extract keeps
//           the stream's order and state, not the codec).
// spandsp and the engine name their codec types alike, so the engine side
// lives in payload_decoder_engine.cpp.
#include <spandsp.h>

#include <cstdio>
#include <cstring>
#include <vector>

// Decodes one two-bit payload with a decoder kept across calls; -1 on failure.
long DecodeAdpcm2Payload(const std::vector<uint8_t>& payload, int16_t* pcm);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const bool dvi4 = std::strcmp(argv[1], "dvi4") == 0;
  unsigned char len[2];
  while (std::fread(len, 1, 2, stdin) == 2) {
    std::vector<uint8_t> p(static_cast<size_t>(len[0] << 8 | len[1]));
    if (std::fread(p.data(), 1, p.size(), stdin) != p.size()) return 1;
    std::vector<int16_t> pcm(4 * p.size() + 16);
    size_t n = 0;
    if (dvi4) {
      ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
      n = static_cast<size_t>(
          ima_adpcm_decode(s, pcm.data(), p.data(), static_cast<int>(p.size())));
      ima_adpcm_free(s);
    } else {
      const long got = DecodeAdpcm2Payload(p, pcm.data());
      if (got < 0) return 1;
      n = static_cast<size_t>(got);
    }
    std::fwrite(pcm.data(), 2, n, stdout);
  }
  return 0;
}
