#pragma once
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

// A stretch found below the silence threshold.
struct SilenceSpan {
  TimeRange range;
  double meanLevelDBFS = 0;

  friend bool operator==(const SilenceSpan&, const SilenceSpan&) = default;
};

// A pause at least this long (seconds) splits the speech into utterances: the minimum length
// of the splitter silences, and a gap between words that splits on its own.
inline constexpr double kSplitterMinSilence = 0.7;

}  // namespace kestrane
