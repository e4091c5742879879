#pragma once
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

// A stretch found below the silence threshold.
struct SilenceSpan {
  TimeRange range;
  double meanLevelDBFS = 0;

  friend bool operator==(const SilenceSpan&, const SilenceSpan&) = default;
};

}  // namespace kestrane
