#include "kestrane/brain/ReviewLoop.hpp"

#include <fmt/format.h>

namespace kestrane::ReviewLoop {

namespace {
// A round is only started when this much time is left in the budget.
constexpr double roundAllowance = 90;
}  // namespace

Step step(int round, Thoroughness thoroughness, double elapsed, bool isClean, bool changedLastRound) {
  if (thoroughness == Thoroughness::silencesOnly || thoroughness == Thoroughness::fast)
    return Step::stopped(Stop::disabled);
  if (round >= maxCorrectionRounds(thoroughness)) return Step::stopped(Stop::roundLimit);
  if (round >= 1 && isClean) return Step::stopped(Stop::clean);
  if (round >= 1 && !changedLastRound) return Step::stopped(Stop::unchanged);
  // Written so that an elapsed time that is not a number stops the loop.
  if (elapsed + roundAllowance <= reviewBudget(thoroughness)) return Step::run(round);
  return Step::stopped(Stop::timeBudget);
}

std::optional<std::string> warning(Stop stop, int rounds) {
  switch (stop) {
    case Stop::disabled:
    case Stop::clean:
    case Stop::unchanged: return std::nullopt;
    case Stop::timeBudget:
      return fmt::format(
          "Self-review stopped on its time budget after {} round{} — remaining notes are in the session file", rounds,
          rounds == 1 ? "" : "s");
    case Stop::roundLimit:
      if (rounds < 2) return std::nullopt;
      return fmt::format("Self-review stopped after {} rounds (the limit) — remaining notes are in the session file",
                         rounds);
  }
  return std::nullopt;
}

}  // namespace kestrane::ReviewLoop
