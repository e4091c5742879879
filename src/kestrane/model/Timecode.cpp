#include "kestrane/model/Timecode.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "kestrane/model/GraphicsAsset.hpp"

namespace kestrane {

namespace VisualIdeas {

namespace {
// Times beyond 24 hours are no real placement; NaN counts as 0.
double bounded(double seconds) {
  if (std::isnan(seconds) || seconds < 0) return 0;
  return std::min(seconds, 86400.0);
}
}  // namespace

std::string timecode(double seconds) {
  const long long whole = std::llround(bounded(seconds));
  return fmt::format("{:02d}:{:02d}", whole / 60, whole % 60);
}

std::string preciseTimecode(double seconds) {
  const long long tenths = std::llround(bounded(seconds) * 10);
  const long long whole = tenths / 10;
  const long long digit = tenths % 10;
  std::string text = fmt::format("{:02d}:{:02d}", whole / 60, whole % 60);
  if (digit != 0) text += fmt::format(".{}", digit);
  return text;
}

}  // namespace VisualIdeas

std::string GraphicsAsset::timecode() const { return VisualIdeas::timecode(placementSeconds); }
std::string GraphicsAsset::preciseTimecode() const { return VisualIdeas::preciseTimecode(placementSeconds); }

}  // namespace kestrane
