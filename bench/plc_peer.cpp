#include "plc_peer.h"

#include <spandsp.h>

namespace zelk::bench {

SpandspPlc::SpandspPlc() : state_((sizeof(plc_state_t) + 7) / 8) {
  plc_init(reinterpret_cast<plc_state_t*>(state_.data()));
}

void SpandspPlc::Receive(int16_t* pcm, int n) {
  plc_rx(reinterpret_cast<plc_state_t*>(state_.data()), pcm, n);
}

void SpandspPlc::FillIn(int16_t* pcm, int n) {
  plc_fillin(reinterpret_cast<plc_state_t*>(state_.data()), pcm, n);
}

}  // namespace zelk::bench
