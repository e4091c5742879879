#include "kestrane/model/CutFigures.hpp"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

Segment segment(double start, double end, SegmentKind kind) {
  Segment s;
  s.range = {start, end};
  s.kind = kind;
  return s;
}

TEST(CutFigures, CountsEveryRemovalKindAndSumsOnlyTheKeptSpans) {
  KestraneSession session;
  session.source.durationSeconds = 20;
  CutList cut;
  cut.segments = {segment(0, 2, SegmentKind::silence),
                  segment(2, 6, SegmentKind::keep),
                  segment(6, 7, SegmentKind::flub),
                  segment(7, 9, SegmentKind::retakeRejected),
                  segment(9, 10, SegmentKind::retakeRejected),
                  segment(10, 14.5, SegmentKind::keep),
                  segment(14.5, 15, SegmentKind::filler),
                  segment(15, 16, SegmentKind::manual),
                  segment(16, 17, SegmentKind::silence),
                  segment(17, 20, SegmentKind::keep)};
  session.cutList = cut;

  const CutFigures f = cutFigures(session);
  EXPECT_DOUBLE_EQ(f.source, 20);
  EXPECT_DOUBLE_EQ(f.kept, 11.5);
  EXPECT_EQ(f.silences, 2);
  EXPECT_EQ(f.flubs, 1);
  EXPECT_EQ(f.retakes, 2);
  EXPECT_EQ(f.fillers, 1);
  EXPECT_EQ(f.manual, 1);
}

TEST(CutFigures, ASessionWithoutACutHasOnlyItsFootageLength) {
  KestraneSession session;
  session.source.durationSeconds = 61.5;
  const CutFigures f = cutFigures(session);
  EXPECT_DOUBLE_EQ(f.source, 61.5);
  EXPECT_EQ(f.kept, 0);
  EXPECT_EQ(f.silences + f.flubs + f.retakes + f.fillers + f.manual, 0);
}

}  // namespace
}  // namespace kestrane
