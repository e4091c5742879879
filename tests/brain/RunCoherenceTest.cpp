#include "kestrane/brain/RunCoherence.hpp"

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

namespace kestrane {
namespace {

using RunCoherence::Incident;
using TakeSelector::Utterance;
using testing::utterance;

const std::vector<std::string> kLines{
    "welcome back to the workshop everyone today.",
    "our topic is building birdhouses from scrap wood.",
    "first measure each board twice before cutting anything.",
    "then sand the edges until they feel smooth.",
};

// Two deliveries of the four lines, `apart` seconds apart; each line lasts 4 s
// with 1 s between lines. Indices 0-3 are the first delivery, 4-7 the second.
std::vector<Utterance> deliveries(double apart = 120, std::vector<std::string> first = kLines) {
  std::vector<Utterance> utts;
  for (double at : {0.0, apart}) {
    const auto& lines = at == 0.0 ? first : kLines;
    for (std::size_t k = 0; k < lines.size(); ++k)
      utts.push_back(utterance(static_cast<int>(utts.size()), lines[k], at + 5.0 * k, at + 5.0 * k + 4));
  }
  return utts;
}

// The cut keeps lines 1, 2 and 4 of the first delivery and line 3 of the second.
const std::set<int> kMixed{0, 1, 3, 6};

TEST(RunCoherence, StrayLineIsFoundAndRepaired) {
  auto utts = deliveries();
  auto found = RunCoherence::incidents(utts, kMixed);
  ASSERT_EQ(found.size(), 1u);
  const Incident& incident = found[0];
  EXPECT_EQ(incident.stray, 6);
  EXPECT_EQ(incident.counterpart, 2);
  EXPECT_EQ(incident.before, 1);
  EXPECT_EQ(incident.after, 3);
  EXPECT_EQ(incident.strayStart, 130);
  EXPECT_EQ(incident.counterpartStart, 10);
  EXPECT_EQ(incident.text, "first measure each board twice before cutting anything.");
  EXPECT_EQ(incident.counterpartSupport, 3);
  EXPECT_EQ(incident.straySupport, 0);
  EXPECT_FALSE(incident.brokenReason);

  // The plan swaps the two renditions and then finds nothing more.
  auto plan = RunCoherence::repairPlan(utts, kMixed, 12);
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0], incident);
  EXPECT_TRUE(RunCoherence::repairPlan(utts, kMixed, 0).empty());
  EXPECT_TRUE(RunCoherence::incidents(utts, {0, 1, 2, 3}).empty());
  // Indices that match no utterance are ignored.
  EXPECT_EQ(RunCoherence::incidents(utts, {0, 1, 3, 6, 99}).size(), 1u);
}

TEST(RunCoherence, BrokenCounterpartIsReportedNotRepaired) {
  auto first = kLines;
  first[2] = "first measure each board";  // broke off, then delivered in full later
  auto utts = deliveries(120, first);
  auto found = RunCoherence::incidents(utts, kMixed);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].brokenReason, "the run's own rendition breaks off early");
  EXPECT_TRUE(RunCoherence::repairPlan(utts, kMixed, 12).empty());

  const auto& whole = utts[6];
  EXPECT_EQ(RunCoherence::brokenReason(utterance(2, "board twice before cutting anything.", 10, 14), whole, 15),
            "the run's own rendition is truncated");
  EXPECT_EQ(
      RunCoherence::brokenReason(
          utterance(2, "first measure first measure each board twice before cutting anything.", 10, 14), whole, 15),
      "the run's own rendition stumbles");
  auto hanging = utterance(2, "first measure each board twice before cutting anything", 10, 14);
  EXPECT_EQ(RunCoherence::brokenReason(hanging, whole, std::nullopt), "the run's own rendition never finishes");
  EXPECT_EQ(RunCoherence::brokenReason(hanging, whole, 16.5), "the run's own rendition never finishes");
  // The line goes on in the next kept utterance.
  EXPECT_FALSE(RunCoherence::brokenReason(hanging, whole, 15.5));
}

TEST(RunCoherence, DistanceLimits) {
  // Kept lines 31 s apart leave no gap to inspect.
  auto utts = deliveries();
  utts[3].range = {40, 44};
  EXPECT_TRUE(RunCoherence::incidents(utts, kMixed).empty());
  // A rendition kept only 60 s away is not a stray.
  EXPECT_TRUE(RunCoherence::incidents(deliveries(60), kMixed).empty());
  // One kept utterance has no neighbours.
  EXPECT_TRUE(RunCoherence::incidents(deliveries(), {6}).empty());
}

TEST(RunCoherence, KeptIndicesAndStamps) {
  auto utts = deliveries();
  CutList cut{{Segment{{0, 9.5}, SegmentKind::keep}, Segment{{9.5, 125}, SegmentKind::retakeRejected},
               Segment{{125, 127}, SegmentKind::keep}}};
  // Line 2 of the second delivery (125-129) has its midpoint at 127, the end of a kept segment.
  EXPECT_EQ(RunCoherence::keptIndices(utts, cut), (std::set<int>{0, 1}));
  EXPECT_EQ(RunCoherence::stamp(62.9), "1:02");
  EXPECT_EQ(RunCoherence::stamp(0.4), "0:00");
  EXPECT_EQ(RunCoherence::stamp(3725), "62:05");
}

}  // namespace
}  // namespace kestrane
