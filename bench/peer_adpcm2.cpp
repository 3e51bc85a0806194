#include "peer_compare.h"

namespace zelk::bench {

void RunAdpcm2Comparison(const std::vector<int16_t>&) {}

}  // namespace zelk::bench
