#include "kestrane/model/CutFigures.hpp"

namespace kestrane {

CutFigures cutFigures(const KestraneSession& session) {
  CutFigures f;
  f.source = session.source.durationSeconds;
  if (!session.cutList) return f;
  f.kept = session.cutList->keptDuration();
  for (const Segment& segment : session.cutList->segments) {
    switch (segment.kind) {
      case SegmentKind::keep: break;
      case SegmentKind::silence: ++f.silences; break;
      case SegmentKind::flub: ++f.flubs; break;
      case SegmentKind::retakeRejected: ++f.retakes; break;
      case SegmentKind::filler: ++f.fillers; break;
      case SegmentKind::manual: ++f.manual; break;
    }
  }
  return f;
}

}  // namespace kestrane
