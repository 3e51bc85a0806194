// Which frames of a stream a network loses: independent losses and bursts.
//
// Both models take one uniform number per frame from the same source, so a
// pattern is the same on every host and with every standard library (the
// std:: distributions are not specified to the bit):
//
//   u_k = (a + b * 2^32) / 2^64
//
// with a, then b, the next two outputs of MT19937 (std::mt19937) seeded with
// the seed, the sum taken in double precision and u_k kept below 1. That is
// what libstdc++'s std::generate_canonical<double, 53> computes, and so what
// its std::bernoulli_distribution and std::uniform_real_distribution draw.
#pragma once

#include <cstdint>
#include <random>

namespace zelk::quality {

class UniformDraws {
 public:
  explicit UniformDraws(uint32_t seed) : rng_(seed) {}
  double Next();  // u_k, in [0, 1)

 private:
  std::mt19937 rng_;
};

// Independent losses: frame k is lost when u_k < rate (0..1).
class RandomLoss {
 public:
  RandomLoss(double rate, uint32_t seed) : rate_(rate), draws_(seed) {}
  bool Next();  // whether the next frame is lost

 private:
  double rate_;
  UniformDraws draws_;
};

// A two-state (Gilbert) model. The channel starts good (frames arrive); for
// each frame it draws u_k and, when good, turns bad if u_k < enter; when bad,
// turns good if u_k < leave. A frame is lost when the state after its draw is
// bad. With
//
//   leave = 1 / meanBurst,   enter = leave * rate / (1 - rate)
//
// the bursts of loss are geometric with mean meanBurst frames and the
// long-run share of lost frames is enter / (enter + leave) = rate. enter can
// be at most 1 (a burst is followed by at least one frame that arrives), so
// rate can be at most meanBurst / (meanBurst + 1).
class GilbertLoss {
 public:
  // rate 0..MaxRate(meanBurst), meanBurst >= 1.
  GilbertLoss(double rate, double meanBurst, uint32_t seed);
  bool Next();

  // Whether the model can reach `rate` with bursts of mean `meanBurst`.
  static bool Feasible(double rate, double meanBurst);
  static double MaxRate(double meanBurst) { return meanBurst / (meanBurst + 1); }

 private:
  double enter_, leave_;
  bool bad_ = false;
  UniformDraws draws_;
};

}  // namespace zelk::quality
