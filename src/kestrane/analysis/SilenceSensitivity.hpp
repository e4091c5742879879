#pragma once
// The user's coarse choice of how much of the audio counts as silence.
#include <array>
#include <span>
#include <string_view>

#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/model/EnumText.hpp"

namespace kestrane {

// In order of rising threshold; the order also settles ties in nearestSilenceSensitivity.
enum class SilenceSensitivity { muchLess, less, automatic, more, muchMore };

template <>
struct EnumText<SilenceSensitivity> {
  static constexpr std::array<std::string_view, 5> texts{"muchLess", "less", "automatic", "more", "muchMore"};
};

inline constexpr SilenceSensitivity defaultSilenceSensitivity = SilenceSensitivity::automatic;

// dB added to the suggested threshold: a higher threshold counts more audio as silence.
double offsetDB(SilenceSensitivity sensitivity);

// The suggested threshold for the levels plus the offset, kept inside the range.
double thresholdDBFS(SilenceSensitivity sensitivity, std::span<const float> levels,
                     SilencePreview::ThresholdRange range = SilencePreview::standardThresholdRange);

// The sensitivity whose threshold lies closest to a stored threshold, judged in the standard
// range; the earlier case wins a tie, and with no levels it is automatic.
SilenceSensitivity nearestSilenceSensitivity(double thresholdDBFS, std::span<const float> levels);

}  // namespace kestrane
