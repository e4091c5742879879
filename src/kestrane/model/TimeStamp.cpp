#include "kestrane/model/TimeStamp.hpp"

#include <cmath>
#include <cstdint>

#include <fmt/format.h>

namespace kestrane {

std::string timeStamp(double seconds) {
  auto whole = static_cast<std::int64_t>(std::trunc(seconds));
  return fmt::format("{}:{:02d}", whole / 60, whole % 60);
}

}  // namespace kestrane
