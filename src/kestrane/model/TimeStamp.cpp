#include "kestrane/model/TimeStamp.hpp"

#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "kestrane/model/CheckedCast.hpp"

namespace kestrane {

std::string timeStamp(double seconds) {
  const auto whole = clampedInteger<std::int64_t>(seconds);
  return fmt::format("{}:{:02d}", whole / 60, whole % 60);
}

}  // namespace kestrane
