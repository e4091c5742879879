#pragma once
// Where the times of a session an earlier build stored lie on the footage file's clock. Earlier
// builds placed the sound by counting its decoded samples from the first one; the file's clock
// places it by its timestamps, as the editors that open the timelines do. The two part where the
// sound starts after the picture, has a gap (a dropout) or gives some time twice (clips joined
// without re-encoding).
#include <vector>

#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

struct CountedClock {
  struct Step {
    double counted = 0;  // from this time on the counted clock,
    double offset = 0;   // sound lies this much later on the file's clock
  };
  // In order of counted time; before the first step the clocks agree. Empty: they agree.
  std::vector<Step> steps;

  // Where a counted time lies on the file's clock. Never before where an earlier counted time
  // lies: sound the file gives twice for one time keeps the place where it was first heard.
  double onFileClock(double counted) const;
  TimeRange onFileClock(const TimeRange& counted) const;
  // True when every counted time lies where it is.
  bool agrees() const;
};

// `session`, stored on the counted clock, with every source time moved onto the file's clock:
// its words, silences, cut (still from the start to the footage's end), take groups, notes, hand
// edits and loudness levels. The rough cut's record stays: the movie was always rendered by the
// file's clock. The result is marked as on the file's clock.
KestraneSession onFileClock(KestraneSession session, const CountedClock& clock);

// Hand edits made over such a session's times, moved alike (none past `footageEnd`).
PipelineSettings onFileClock(PipelineSettings settings, const CountedClock& clock, double footageEnd);

}  // namespace kestrane
