#include "peer_compare.h"

namespace zelk::bench {

void RunImaComparison(const std::vector<int16_t>&) {}

}  // namespace zelk::bench
