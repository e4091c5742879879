#include "kestrane/model/Timecode.hpp"

#include <fmt/format.h>

#include <cmath>

#include "kestrane/model/GraphicsAsset.hpp"

namespace kestrane {

namespace VisualIdeas {

std::string timecode(double seconds) {
  long long whole = std::llround(seconds);
  if (whole < 0) whole = 0;
  return fmt::format("{:02d}:{:02d}", whole / 60, whole % 60);
}

std::string preciseTimecode(double seconds) {
  if (seconds < 0) seconds = 0;
  const long long tenths = std::llround(seconds * 10);
  const long long whole = tenths / 10;
  const long long digit = tenths % 10;
  std::string text = fmt::format("{:02d}:{:02d}", whole / 60, whole % 60);
  if (digit != 0) text += fmt::format(".{}", digit);
  return text;
}

}  // namespace VisualIdeas

std::string GraphicsAsset::timecode() const { return VisualIdeas::timecode(placementSeconds); }
std::string GraphicsAsset::preciseTimecode() const {
  return VisualIdeas::preciseTimecode(placementSeconds);
}

}  // namespace kestrane
