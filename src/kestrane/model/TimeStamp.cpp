#include "kestrane/model/TimeStamp.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "kestrane/model/CheckedCast.hpp"

namespace kestrane {

std::string timeStamp(double seconds) {
  const auto whole = clampedInteger<std::int64_t>(seconds);
  return fmt::format("{}:{:02d}", whole / 60, whole % 60);
}

std::string lengthText(double seconds, int decimals) {
  const auto ms = clampedInteger<std::int64_t>(std::round(std::max(seconds, 0.0) * 1000));
  std::int64_t places = 1;
  for (int i = 0; i < decimals; ++i) places *= 10;
  const std::string minutes = timeStamp(static_cast<double>(ms / 1000));
  if (decimals == 0) return minutes;
  return fmt::format("{}.{:0{}d}", minutes, (ms % 1000) * places / 1000, decimals);
}

int decimalsToTell(double a, double b) {
  int decimals = 0;
  while (decimals < 3 && lengthText(a, decimals) == lengthText(b, decimals)) ++decimals;
  return decimals;
}

}  // namespace kestrane
