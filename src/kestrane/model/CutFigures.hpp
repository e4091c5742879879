#pragma once
// The figures a finished cut is summed up by: how long the footage and the cut run, and how
// many spans of each kind were taken out.
#include "kestrane/model/KestraneSession.hpp"

namespace kestrane {

struct CutFigures {
  double source = 0;  // seconds
  double kept = 0;    // seconds
  int silences = 0;
  int flubs = 0;
  int retakes = 0;
  int fillers = 0;
  int manual = 0;
};

// The session's footage length and, when it holds a cut, its kept length and removals.
CutFigures cutFigures(const KestraneSession& session);

}  // namespace kestrane
