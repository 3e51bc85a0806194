#include "loss_plan.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "failure.h"

namespace zv {

namespace {

constexpr const char* FORMS =
    "write a list of frames (3,7-9), random:PERCENT[:SEED] or bursty:PERCENT:MEANBURST[:SEED]";
constexpr size_t SHOWN_RANGES = 6;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string Trim(const std::string& s) {
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto first = std::find_if_not(s.begin(), s.end(), space);
  const auto last = std::find_if_not(s.rbegin(), s.rend(), space).base();
  return first < last ? std::string(first, last) : std::string();
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw UsageFailure(fmt::format("--lose {}: {}", text_.empty() ? "''" : text_, what));
  }

  uint64_t Index(const std::string& s) const {
    if (s.starts_with('-') || s.starts_with('+')) {
      Fail(fmt::format("'{}': frame indices count from 0 and have no sign", s));
    }
    if (!AllDigits(s)) Fail(fmt::format("'{}' is not a frame index or range; {}", s, FORMS));
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) {
      Fail(fmt::format("frame index {} is too large", s));
    }
    return v;
  }

  // A plain decimal number: digits, optionally a point and more digits.
  double Number(const std::string& s, const char* name) const {
    const size_t point = s.find('.');
    const bool plain = point == std::string::npos
                           ? AllDigits(s)
                           : AllDigits(s.substr(0, point)) && AllDigits(s.substr(point + 1));
    if (!plain) Fail(fmt::format("{} '{}' is not a number like 5 or 2.5", name, s));
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
  }

  double Percent(const std::string& s) const {
    if (s.starts_with('-') && s.size() > 1) {
      Number(s.substr(1), "PERCENT");
      Fail(fmt::format("PERCENT {} is not between 0 and 100", s));
    }
    const double v = Number(s, "PERCENT");
    if (v > 100) Fail(fmt::format("PERCENT {} is not between 0 and 100", s));
    return v;
  }

  uint32_t Seed(const std::string& s) const {
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (!AllDigits(s) || ec != std::errc() || end != s.data() + s.size()) {
      Fail(fmt::format("SEED '{}' is not a whole number from 0 to 4294967295", s));
    }
    return v;
  }

  LossPlan List() const {
    LossPlan plan;
    plan.text = text_;
    if (Trim(text_).empty() || Trim(text_) == "none") return plan;
    for (const std::string& raw : Split(text_, ',')) {
      const std::string item = Trim(raw);
      if (item.empty()) Fail(fmt::format("an empty item in the list; {}", FORMS));
      const size_t dash = item.find('-', 1);
      if (dash == std::string::npos) {
        const uint64_t v = Index(item);
        plan.ranges.emplace_back(v, v);
        continue;
      }
      const std::string from = Trim(item.substr(0, dash)), to = Trim(item.substr(dash + 1));
      if (from.empty() || to.empty()) {
        Fail(fmt::format("'{}' is not a frame index or range; {}", item, FORMS));
      }
      const uint64_t first = Index(from);
      const uint64_t last = Index(to);
      if (last < first) {
        Fail(fmt::format("the range {} runs backwards (write {}-{})", item, last, first));
      }
      plan.ranges.emplace_back(first, last);
    }
    // Sorted and merged, so that a stream walks them once.
    std::sort(plan.ranges.begin(), plan.ranges.end());
    std::vector<std::pair<uint64_t, uint64_t>> merged;
    for (const auto& r : plan.ranges) {
      if (!merged.empty() &&
          (r.first <= merged.back().second || r.first - 1 == merged.back().second)) {
        merged.back().second = std::max(merged.back().second, r.second);
      } else {
        merged.push_back(r);
      }
    }
    plan.ranges = std::move(merged);
    return plan;
  }

  LossPlan Model() const {
    const std::vector<std::string> parts = Split(text_, ':');
    LossPlan plan;
    plan.text = text_;
    if (parts[0] == "random") {
      if (parts.size() < 2 || parts.size() > 3) Fail("write random:PERCENT or random:PERCENT:SEED");
      plan.kind = LossPlan::Kind::kRandom;
      plan.percent = Percent(parts[1]);
      if (parts.size() == 3) plan.seed = Seed(parts[2]);
      return plan;
    }
    if (parts[0] == "bursty") {
      if (parts.size() < 3 || parts.size() > 4) {
        Fail("write bursty:PERCENT:MEANBURST or bursty:PERCENT:MEANBURST:SEED");
      }
      plan.kind = LossPlan::Kind::kBursty;
      plan.percent = Percent(parts[1]);
      plan.meanBurst = Number(parts[2], "MEANBURST");
      if (plan.meanBurst < 1) {
        Fail(fmt::format("MEANBURST {} is below 1 (a burst is at least one frame)", parts[2]));
      }
      if (!zelk::quality::GilbertLoss::Feasible(plan.percent / 100, plan.meanBurst)) {
        Fail(fmt::format(
            "MEANBURST {} allows at most {:.4g}% of the frames to be lost (every burst ends with "
            "a frame that arrives); lower PERCENT or raise MEANBURST",
            parts[2], 100 * zelk::quality::GilbertLoss::MaxRate(plan.meanBurst)));
      }
      if (parts.size() == 4) plan.seed = Seed(parts[3]);
      return plan;
    }
    Fail(fmt::format("unknown loss model '{}'; {}", parts[0], FORMS));
  }

 private:
  const std::string& text_;
};

std::string RangeText(uint64_t first, uint64_t last) {
  return first == last ? fmt::format("{}", first) : fmt::format("{}-{}", first, last);
}

}  // namespace

LossPlan ParseLossPlan(const std::string& text) {
  const Parser parser(text);
  return text.find(':') == std::string::npos ? parser.List() : parser.Model();
}

std::string LossPlan::Describe() const {
  switch (kind) {
    case Kind::kRandom:
      return fmt::format("random {}% (seed {})", percent, seed);
    case Kind::kBursty:
      return fmt::format("bursty {}%, mean burst {} (seed {})", percent, meanBurst, seed);
    case Kind::kList:
      break;
  }
  if (ranges.empty()) return "none";
  std::vector<std::string> shown;
  for (size_t i = 0; i < ranges.size() && i < SHOWN_RANGES; ++i) {
    shown.push_back(RangeText(ranges[i].first, ranges[i].second));
  }
  if (ranges.size() > SHOWN_RANGES) shown.push_back("...");
  return fmt::format("frame{} {}",
                     ranges.size() == 1 && ranges[0].first == ranges[0].second ? "" : "s",
                     fmt::join(shown, ", "));
}

LossPattern::LossPattern(const LossPlan& plan) : plan_(plan) {
  if (plan.kind == LossPlan::Kind::kRandom) random_.emplace(plan.percent / 100, plan.seed);
  if (plan.kind == LossPlan::Kind::kBursty) {
    bursty_.emplace(plan.percent / 100, plan.meanBurst, plan.seed);
  }
}

bool LossPattern::Next() {
  const uint64_t frame = frame_++;
  if (random_) return random_->Next();
  if (bursty_) return bursty_->Next();
  while (range_ < plan_.ranges.size() && plan_.ranges[range_].second < frame) ++range_;
  return range_ < plan_.ranges.size() && plan_.ranges[range_].first <= frame;
}

std::string LossPattern::PastTheEnd(uint64_t frames) const {
  std::vector<std::string> past;
  for (const auto& [first, last] : plan_.ranges) {
    if (last < frames) continue;
    if (past.size() == SHOWN_RANGES) {
      past.push_back("...");
      break;
    }
    past.push_back(RangeText(std::max(first, frames), last));
  }
  return fmt::format("{}", fmt::join(past, ", "));
}

}  // namespace zv
