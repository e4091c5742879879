#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

// One group of repeated takes of a line: the kept take and the removed ones.
struct TakeGroupInfo {
  std::int64_t id = 0;
  TimeRange winnerRange;
  std::optional<std::vector<TimeRange>> alternateRanges;

  friend bool operator==(const TakeGroupInfo&, const TakeGroupInfo&) = default;
};

}  // namespace kestrane
