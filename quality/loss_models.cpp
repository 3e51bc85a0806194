#include "loss_models.h"

#include <cmath>

namespace zelk::quality {

namespace {

constexpr double TWO_TO_32 = 4294967296.0;
constexpr double TWO_TO_64 = 18446744073709551616.0;

double Enter(double rate, double meanBurst) { return 1.0 / meanBurst * rate / (1.0 - rate); }

}  // namespace

double UniformDraws::Next() {
  double sum = static_cast<double>(rng_());
  sum += static_cast<double>(rng_()) * TWO_TO_32;
  const double u = sum / TWO_TO_64;
  return u < 1.0 ? u : std::nextafter(1.0, 0.0);
}

bool RandomLoss::Next() { return draws_.Next() < rate_; }

GilbertLoss::GilbertLoss(double rate, double meanBurst, uint32_t seed)
    : enter_(Enter(rate, meanBurst)), leave_(1.0 / meanBurst), draws_(seed) {}

bool GilbertLoss::Next() {
  const double u = draws_.Next();
  bad_ = bad_ ? u >= leave_ : u < enter_;
  return bad_;
}

bool GilbertLoss::Feasible(double rate, double meanBurst) {
  return meanBurst >= 1 && rate >= 0 && rate < 1 && Enter(rate, meanBurst) <= 1;
}

}  // namespace zelk::quality
