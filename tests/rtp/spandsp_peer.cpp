#include "spandsp_peer.h"

#include <spandsp.h>

namespace zelk::peer {

// A chunk size of 0 makes every encode or decode call one DVI4 packet, with
// its header.
Dvi4::Dvi4() : state_(ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0)) {}

Dvi4::~Dvi4() { ima_adpcm_free(static_cast<ima_adpcm_state_t*>(state_)); }

std::vector<uint8_t> Dvi4::Encode(const int16_t* pcm, size_t n) {
  std::vector<uint8_t> out(4 + n / 2 + 1);
  const int bytes = ima_adpcm_encode(static_cast<ima_adpcm_state_t*>(state_), out.data(), pcm,
                                     static_cast<int>(n));
  out.resize(static_cast<size_t>(bytes));
  return out;
}

std::vector<int16_t> Dvi4::Decode(const std::vector<uint8_t>& payload) {
  std::vector<int16_t> out(2 * payload.size());
  const int n = ima_adpcm_decode(static_cast<ima_adpcm_state_t*>(state_), out.data(),
                                 payload.data(), static_cast<int>(payload.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

uint8_t AlawToUlaw(uint8_t code) { return alaw_to_ulaw(code); }
uint8_t UlawToAlaw(uint8_t code) { return ulaw_to_alaw(code); }

}  // namespace zelk::peer
