// --lose LOSSES: which frames a conceal run drops.
//
//   3,7-9                    these zero-based frame indices and ranges (an empty
//                            list, or "none", loses nothing)
//   random:PERCENT[:SEED]    each frame lost independently with that chance
//   bursty:PERCENT:MEANBURST[:SEED]
//                            a two-state Gilbert model: bursts of mean MEANBURST
//                            frames, PERCENT of the frames lost in the long run
//
// The models are quality/loss_models.h's, seeded with SEED (default 1), so a
// run is the same every time and on every host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "loss_models.h"

namespace zv {

inline constexpr uint32_t DEFAULT_LOSS_SEED = 1;

struct LossPlan {
  enum class Kind { kList, kRandom, kBursty };
  Kind kind = Kind::kList;
  std::string text;                                   // as given
  std::vector<std::pair<uint64_t, uint64_t>> ranges;  // kList: first..last, sorted, disjoint
  double percent = 0;                                 // kRandom, kBursty
  double meanBurst = 0;                               // kBursty
  uint32_t seed = DEFAULT_LOSS_SEED;

  std::string Describe() const;  // "frames 3, 7-9", "random 5% (seed 1)", ...
};

// Parses LOSSES; a bad one throws a usage Failure naming it and what is wrong.
LossPlan ParseLossPlan(const std::string& text);

// Whether each frame in turn is lost, from the first on.
class LossPattern {
 public:
  explicit LossPattern(const LossPlan& plan);
  bool Next();

  // For a list: the frames it names at or past `frames` (the stream's
  // length), "" when there are none. "150-199, 300"
  std::string PastTheEnd(uint64_t frames) const;

 private:
  const LossPlan& plan_;
  uint64_t frame_ = 0;
  size_t range_ = 0;  // the first range that does not end before frame_
  std::optional<zelk::quality::RandomLoss> random_;
  std::optional<zelk::quality::GilbertLoss> bursty_;
};

}  // namespace zv
