// spandsp as a peer, behind a plain interface: its headers and ours both name
// G711_ALAW and G711_ULAW, so only spandsp_peer.cpp includes spandsp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelk::peer {

// A spandsp IMA ADPCM coder in its RFC 3551 DVI4 variant, one packet per call.
class Dvi4 {
 public:
  Dvi4();
  ~Dvi4();
  Dvi4(const Dvi4&) = delete;
  Dvi4& operator=(const Dvi4&) = delete;

  std::vector<uint8_t> Encode(const int16_t* pcm, size_t n);
  std::vector<int16_t> Decode(const std::vector<uint8_t>& payload);

 private:
  void* state_;
};

uint8_t AlawToUlaw(uint8_t code);
uint8_t UlawToAlaw(uint8_t code);

}  // namespace zelk::peer
