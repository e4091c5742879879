#pragma once
// The figures a finished cut is summed up by: how long the footage and the cut run, and how
// many spans of each kind were taken out.
#include <array>
#include <span>
#include <string>

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

// The footage length, the kept length and the removed spans of a cut, one per segment. A
// filler, flub or alternate-take span that only clips the edges of words whose middles stay
// in the cut takes none of them out (the transcript and captions still hold them), so it is
// not counted.
CutFigures cutFigures(double sourceSeconds, const CutList& cutList, std::span<const TranscriptWord> words);
// The same for the session's cut and words; only the footage length when it holds no cut.
CutFigures cutFigures(const KestraneSession& session);

// "3 silences", "1 flub", "0 alternate takes", "1 filler", in that order.
std::array<std::string, 4> removedCounts(const CutFigures& figures);

}  // namespace kestrane
