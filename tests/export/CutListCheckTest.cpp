// The cut-list check names what is wrong, and a broken cut is reported as the program's fault.
#include <gtest/gtest.h>

#include <limits>

#include "kestrane/export/CutListCheck.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane {
namespace {

SourceMedia tenSecondsAt25() {
  SourceMedia s;
  s.durationSeconds = 10;
  s.frameDuration = RationalTime(1, 25);
  return s;
}

CutList cutOf(std::vector<TimeRange> ranges) {
  CutList cut;
  bool keep = true;
  for (const TimeRange& r : ranges) {
    cut.segments.push_back(Segment{r, keep ? SegmentKind::keep : SegmentKind::silence, std::nullopt, std::nullopt});
    keep = !keep;
  }
  return cut;
}

TEST(CutListCheck, NamesEachWayACutCanBreak) {
  const SourceMedia source = tenSecondsAt25();
  EXPECT_EQ(CutListCheck::fault(cutOf({{0, 2.5}, {2.5, 6}, {6, 10}}), source), std::nullopt);
  EXPECT_EQ(CutListCheck::fault(CutList{}, source), "no segments");
  EXPECT_EQ(CutListCheck::fault(cutOf({{0, 2}, {3, 10}}), source),
            "segment 1 starts at 3, not at 2 where the cut had reached");
  EXPECT_EQ(CutListCheck::fault(cutOf({{0, 5}, {4, 10}}), source),
            "segment 1 starts at 4, not at 5 where the cut had reached");
  EXPECT_EQ(CutListCheck::fault(cutOf({{0, 2}, {2, 2}, {2, 10}}), source), "segment 1 is empty at 2");
  EXPECT_EQ(CutListCheck::fault(cutOf({{0, 2}, {2, 9}}), source), "the cut ends at 9, the source at 10");
  EXPECT_EQ(CutListCheck::fault(cutOf({{0.5, 10}}), source),
            "segment 0 starts at 0.5, not at 0 where the cut had reached");
  // A time that is not a number fails every comparison, so it must not pass as sound.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NE(CutListCheck::fault(cutOf({{0, nan}, {nan, 10}}), source), std::nullopt);
  EXPECT_NE(CutListCheck::fault(cutOf({{0, 10}}), SourceMedia{}), std::nullopt);
}

TEST(CutListCheck, ABrokenCutIsAnInternalErrorNamingTheSeam) {
  const SourceMedia source = tenSecondsAt25();
  EXPECT_NO_THROW(CutListCheck::require(cutOf({{0, 4}, {4, 10}}), source, "the AI review"));
  try {
    CutListCheck::require(cutOf({{0, 4}}), source, "the AI review");
    FAIL() << "a cut that stops short of the source passed";
  } catch (const CutListCheck::Broken& e) {
    EXPECT_TRUE(FailureMessage::isInternal(e));
    EXPECT_EQ(FailureMessage::of(e),
              "internal error: the cut planned after the AI review is unsound: the cut ends at 4, the "
              "source at 10");
  }
}

}  // namespace
}  // namespace kestrane
