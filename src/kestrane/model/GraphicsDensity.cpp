#include "kestrane/model/GraphicsDensity.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrane {

namespace {
struct DensityRule {
  int cap;
  double share;
  int floor;
};
constexpr std::array<DensityRule, 4> kRules{{{8, 0.12, 2}, {24, 0.27, 3}, {40, 0.65, 4}, {60, 1.0, 4}}};
}  // namespace

int densityCap(GraphicsDensity density) { return kRules[static_cast<std::size_t>(density)].cap; }

int assetCount(GraphicsDensity density, double cutSeconds, std::optional<int> beats) {
  const DensityRule& rule = kRules[static_cast<std::size_t>(density)];
  long long n = 0;
  if (!beats) {
    // NaN and infinite lengths count as 0; a finite one is bounded before it becomes a count.
    const double seconds = std::isfinite(cutSeconds) && cutSeconds > 0 ? cutSeconds : 0;
    n = std::max(1LL, static_cast<long long>(std::round(std::min(seconds / 3, 1e9))));
  } else if (*beats >= 1) {
    n = *beats;
  } else {
    return rule.floor;
  }
  const long long shared = std::llround(static_cast<double>(n) * rule.share);
  return static_cast<int>(std::min(std::min<long long>(rule.cap, n), std::max<long long>(rule.floor, shared)));
}

}  // namespace kestrane
