#include "kestrane/analysis/SilenceSensitivity.hpp"

#include <cmath>

namespace kestrane {
namespace {

double clampTo(double t, SilencePreview::ThresholdRange range) {
  if (t <= range.lower) t = range.lower;
  if (range.upper < t) t = range.upper;
  return t;
}

}  // namespace

double offsetDB(SilenceSensitivity sensitivity) {
  static constexpr std::array<double, 5> offsets{-6, -3, 0, 3, 6};
  return offsets[static_cast<std::size_t>(sensitivity)];
}

double thresholdDBFS(SilenceSensitivity sensitivity, std::span<const float> levels,
                     SilencePreview::ThresholdRange range) {
  // The suggestion and the offsets are whole numbers, so no second rounding is needed.
  return clampTo(SilencePreview::suggestedThresholdDBFS(levels, range) + offsetDB(sensitivity), range);
}

SilenceSensitivity nearestSilenceSensitivity(double threshold, std::span<const float> levels) {
  if (levels.empty()) return SilenceSensitivity::automatic;
  const double suggestion = SilencePreview::suggestedThresholdDBFS(levels, SilencePreview::standardThresholdRange);
  SilenceSensitivity best = SilenceSensitivity::muchLess;
  double bestDistance = INFINITY;
  for (auto candidate : allCases<SilenceSensitivity>()) {
    const double distance = std::abs(suggestion + offsetDB(candidate) - threshold);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace kestrane
