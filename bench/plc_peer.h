// spandsp's packet-loss concealment behind a small wrapper, so that its
// header (whose G.711 names clash with the engine's) stays in one file.
#pragma once

#include <cstdint>
#include <vector>

namespace zelk::bench {

class SpandspPlc {
 public:
  SpandspPlc();                       // plc_init on storage of our own; copies copy the whole state
  void Receive(int16_t* pcm, int n);  // plc_rx: a good frame, passed through
  void FillIn(int16_t* pcm, int n);   // plc_fillin: n samples for lost ones

 private:
  std::vector<uint64_t> state_;
};

}  // namespace zelk::bench
