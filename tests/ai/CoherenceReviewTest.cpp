#include "kestrane/ai/CoherenceReview.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

namespace kestrane {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::utterance;

CutList cutOf(std::vector<std::pair<TimeRange, SegmentKind>> spans) {
  CutList c;
  for (auto& [r, k] : spans) c.segments.push_back({r, k});
  return c;
}

TEST(CoherenceReview, ReadsTheCutBackOnTheViewersClock) {
  const std::vector<TakeSelector::Utterance> u = {
      utterance(0, "this is the opening line of the show", 0, 4),
      utterance(1, "the middle line goes here right now", 10, 14),
      utterance(2, "the middle line goes here right now again", 30, 34),
      utterance(3, "and this is the very last line", 40, 44),
      utterance(4, "the middle line goes here right now", 500, 504),
  };
  const CutList cut = cutOf({{{0, 4}, SegmentKind::keep},
                             {{4, 10}, SegmentKind::silence},
                             {{10, 14}, SegmentKind::keep},
                             {{14, 30}, SegmentKind::silence},
                             {{30, 34}, SegmentKind::retakeRejected},
                             {{34, 40}, SegmentKind::silence},
                             {{40, 44}, SegmentKind::keep},
                             {{44, 500}, SegmentKind::silence},
                             {{500, 504}, SegmentKind::flub}});
  const auto lines = CoherenceReview::reading(u, cut);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].cutStart, 4);
  EXPECT_EQ(lines[2].cutStart, 8);
  // The later take 16 s on is a rendition; the one 486 s on is past the window.
  ASSERT_EQ(lines[1].laterCutRenditions.size(), 1u);
  EXPECT_EQ(lines[1].laterCutRenditions[0].index, 2);
  EXPECT_EQ(lines[0].removedBefore, 0);
  EXPECT_EQ(lines[2].removedBefore, 26);
  EXPECT_EQ(lines[2].removedTakesBefore, 1);

  const auto text = CoherenceReview::evidence(u, cut, {}, {});
  ASSERT_TRUE(text);
  EXPECT_THAT(*text, StartsWith("THE FINAL CUT, READ BACK IN ORDER"));
  EXPECT_THAT(*text,
              HasSubstr("0:04.0 | 0:10.0 | [1] the middle line goes here right now\n"
                        "    ⤷ RUN EVIDENCE: this line is delivered AGAIN later in the source at 0:30.0 [cut #2]"));
  EXPECT_THAT(*text,
              HasSubstr("    ⤷ 26s of source removed before this line (1 rejected take/flub cut in that gap)\n"));

  // One surviving line gives no evidence at all.
  EXPECT_FALSE(CoherenceReview::evidence(u, cutOf({{{0, 4}, SegmentKind::keep}}), {}, {}));
  EXPECT_EQ(CoherenceReview::clockTime(75.3), "1:15.3");
  // Rounding that carries into the next minute reads as that minute, never as second 60.
  EXPECT_EQ(CoherenceReview::clockTime(59.96), "1:00.0");
  EXPECT_EQ(CoherenceReview::clockTime(119.94), "1:59.9");
}

TEST(CoherenceReview, ListsCoverageWithItsLimits) {
  const std::vector<TakeSelector::Utterance> u = {utterance(0, "one two three four", 0, 2),
                                                  utterance(1, "five six seven eight", 2, 4)};
  std::vector<ScriptCoverage::BeatResult> coverage;
  for (int i = 0; i < 16; ++i)
    coverage.push_back({"missing beat " + std::to_string(i), ScriptCoverage::Status::missing, std::nullopt, 0});
  coverage.push_back({"drifting beat", ScriptCoverage::Status::partial, std::nullopt, 0.5});
  const auto text = CoherenceReview::evidence(u, cutOf({{{0, 4}, SegmentKind::keep}}), coverage, {});
  ASSERT_TRUE(text);
  EXPECT_THAT(*text, HasSubstr("  0 beats covered, 1 partial, 16 missing, of 17.\n"));
  EXPECT_THAT(*text, HasSubstr("    ✗ missing beat 13\n    …and 2 more.\n"));
  EXPECT_THAT(*text, HasSubstr("    ◐ drifting beat\n\nTHE FINAL CUT"));
}

}  // namespace
}  // namespace kestrane
