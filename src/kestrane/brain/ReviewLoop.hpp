#pragma once
// Decides, before each round of the AI self-review of a finished cut, whether another round
// runs or the loop stops, and words the warning a stop leaves for the user.
#include <optional>
#include <string>

#include "kestrane/model/PipelineSettings.hpp"

namespace kestrane::ReviewLoop {

// Why the loop ends.
enum class Stop {
  disabled,    // the thoroughness has no self-review
  clean,       // the cut was found clean in the last round
  unchanged,   // the last round changed nothing
  roundLimit,  // the thoroughness's round limit is reached
  timeBudget,  // another round would not fit in the time budget
};

// Either run the given round now, or stop for a reason.
struct Step {
  bool runs = false;
  int round = 0;               // the round to run, when runs
  Stop stop = Stop::disabled;  // why the loop ends, when it does not run

  static Step run(int round) { return {true, round, Stop::disabled}; }
  static Step stopped(Stop why) { return {false, 0, why}; }

  friend bool operator==(const Step&, const Step&) = default;
};

// round: rounds already run (0 before the first). Before the first round the caller passes
// not clean and changed.
Step step(int round, Thoroughness thoroughness, double elapsed, bool isClean, bool changedLastRound);

// The warning left for the user by a stop, if any.
std::optional<std::string> warning(Stop stop, int rounds);

}  // namespace kestrane::ReviewLoop
