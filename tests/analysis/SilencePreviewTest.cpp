#include <gtest/gtest.h>

#include <vector>

#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/analysis/SilenceSensitivity.hpp"

using namespace kestrane;
using namespace kestrane::SilencePreview;

namespace {

// Levels whose 10th percentile is floor and 90th percentile is speech.
std::vector<float> levelsWith(float floor, float speech) {
  std::vector<float> levels(20, floor);
  for (int i = 10; i < 20; ++i) levels[i] = speech;
  return levels;
}

void expectRanges(const std::vector<TimeRange>& got, const std::vector<TimeRange>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i].start, want[i].start, 1e-9) << "range " << i;
    EXPECT_NEAR(got[i].end, want[i].end, 1e-9) << "range " << i;
  }
}

}  // namespace

TEST(SilencePreview, PercentilesAndSuggestedThreshold) {
  EXPECT_EQ(noiseFloorDBFS({}), -60);
  EXPECT_EQ(speechLevelDBFS({}), -30);
  EXPECT_EQ(suggestedThresholdDBFS({}), -44);

  const std::vector<float> one{-42};
  EXPECT_EQ(noiseFloorDBFS(one), -42);
  EXPECT_EQ(speechLevelDBFS(one), -42);
  const std::vector<float> ten{-10, -90, -20, -80, -30, -70, -40, -60, -50, -55};
  EXPECT_EQ(noiseFloorDBFS(ten), -80);
  EXPECT_EQ(speechLevelDBFS(ten), -10);

  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-70, -30)), -48);
  // Clamped into the range.
  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-34, -10)), -25);
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::more, levelsWith(-34, -10)), -25);
  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-90, -70)), -55);
}

TEST(SilencePreview, SuggestionFollowsTheSpreadNotTheSpeechLevel) {
  // Floor −50 and speech −40 (spread 10): the headroom over the floor gives −36, above the
  // speech level. A recording that is mostly room tone then finds its room tone as silence.
  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-50, -40)), -36);
  // A spread of exactly 12 takes the headroom too; above it the valley.
  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-60, -48)), -46);
  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-60, -47)), -53);  // −60 + 0.55 × 13 = −52.85
  EXPECT_EQ(suggestedThresholdDBFS(levelsWith(-80, -20)), -47);
}

TEST(SilencePreview, SensitivityThresholdsAndNearest) {
  const auto levels = levelsWith(-70, -30);  // suggestion −48
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::muchLess, levels), -54);
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::less, levels), -51);
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::automatic, levels), -48);
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::more, levels), -45);
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::muchMore, levels), -42);
  EXPECT_EQ(thresholdDBFS(SilenceSensitivity::muchLess, levelsWith(-80, -60)), -55);

  EXPECT_EQ(nearestSilenceSensitivity(-45.5, {}), SilenceSensitivity::automatic);
  // Suggestion −44 (floor −60, speech −30): −45.5 is 1.5 from both less and automatic.
  const auto fortyFour = levelsWith(-60, -30);
  EXPECT_EQ(suggestedThresholdDBFS(fortyFour), -44);
  EXPECT_EQ(nearestSilenceSensitivity(-45.5, fortyFour), SilenceSensitivity::less);
  EXPECT_EQ(nearestSilenceSensitivity(-38, fortyFour), SilenceSensitivity::muchMore);
  EXPECT_EQ(nearestSilenceSensitivity(-43, fortyFour), SilenceSensitivity::automatic);

  EXPECT_EQ(rawValue(SilenceSensitivity::muchMore), "muchMore");
  EXPECT_EQ(fromRawValue<SilenceSensitivity>("less"), SilenceSensitivity::less);
  EXPECT_FALSE(fromRawValue<SilenceSensitivity>("loud").has_value());
}

TEST(SilencePreview, SummaryCountsWholeHopRuns) {
  EXPECT_EQ(summary({}, 0.01, -50, 0.03), Summary{});

  const std::vector<float> levels{-30, -70, -70, -70, -30};
  auto s = summary(levels, 0.01, -50, 0.03);
  EXPECT_EQ(s.gapCount, 1);
  EXPECT_NEAR(s.removedSeconds, 0.03, 1e-12);
  EXPECT_NEAR(s.totalSeconds, 0.05, 1e-12);
  EXPECT_NEAR(s.keptSeconds(), 0.02, 1e-12);
  EXPECT_EQ(s.loudestCutDBFS, -70.0f);

  // At the threshold counts as silent here; the run reaching the end is counted too.
  const std::vector<float> edge{-30, -50, -60, -30, -55, -50};
  s = summary(edge, 0.01, -50, 0.02);
  EXPECT_EQ(s.gapCount, 2);
  EXPECT_NEAR(s.removedSeconds, 0.04, 1e-12);
  EXPECT_EQ(s.loudestCutDBFS, -50.0f);
  EXPECT_FALSE(summary(edge, 0.01, -50, 0.5).loudestCutDBFS.has_value());
  // A hop that cannot measure time counts nothing rather than trapping.
  EXPECT_EQ(summary(edge, 0.0, -50, 0.02).gapCount, 0);
}

TEST(SilencePreview, BandsArePaddedWhereTheyBorderSpeech) {
  std::vector<float> levels(400, -20);
  for (int i = 100; i < 200; ++i) levels[i] = -70;
  expectRanges(silenceBands(levels, 0.01, -50, 0.5, 0.15), {{1.15, 1.85}});

  std::vector<float> head(400, -20);
  for (int i = 0; i < 100; ++i) head[i] = -70;
  for (int i = 300; i < 400; ++i) head[i] = -70;
  expectRanges(silenceBands(head, 0.01, -50, 0.5, 0.15), {{0, 0.85}, {3.15, 4.0}});

  // A band the padding leaves at 10 ms or less disappears; a run under minHops is not a band.
  std::vector<float> shortRun(400, -20);
  for (int i = 100; i < 131; ++i) shortRun[i] = -70;
  EXPECT_TRUE(silenceBands(shortRun, 0.01, -50, 0.3, 0.152).empty());
  EXPECT_EQ(silenceBands(shortRun, 0.01, -50, 0.3, 0.14).size(), 1u);
  EXPECT_TRUE(silenceBands(shortRun, 0.01, -50, 0.5, 0.0).empty());
  EXPECT_TRUE(silenceBands({}, 0.01, -50, 0.5, 0.15).empty());
  EXPECT_TRUE(silenceBands(levels, 0, -50, 0.5, 0.15).empty());
}

TEST(SilencePreview, EnvelopeColumns) {
  const std::vector<float> three{-10, -40, -20};
  EXPECT_EQ(envelope(three, 2), (std::vector<float>{-10, -20}));
  const std::vector<float> two{-10, -40};
  EXPECT_EQ(envelope(two, 4), (std::vector<float>{-10, -10, -40, -40}));
  EXPECT_TRUE(envelope(two, 0).empty());
  EXPECT_TRUE(envelope({}, 5).empty());
  // Many levels into few columns: each column is the loudest of its share.
  std::vector<float> many(1000, -60);
  many[999] = -5;
  const auto cols = envelope(many, 3);
  EXPECT_EQ(cols, (std::vector<float>{-60, -60, -5}));
}

TEST(SilencePreview, RangeArithmetic) {
  const std::vector<TimeRange> ranges{{2, 3}, {0, 1}, {1.05, 1.5}};
  expectRanges(unionOf(ranges, 0.1), {{0, 1.5}, {2, 3}});
  expectRanges(unionOf(ranges, 0), {{0, 1}, {1.05, 1.5}, {2, 3}});
  const std::vector<TimeRange> touching{{0, 1}, {1, 2}, {0.5, 0.7}};
  expectRanges(unionOf(touching, 0), {{0, 2}});
  EXPECT_TRUE(unionOf({}, 0.1).empty());

  EXPECT_NEAR(totalDuration(ranges), 2.45, 1e-12);
  EXPECT_EQ(totalDuration({}), 0);

  const std::vector<TimeRange> removed{{1, 2}, {2.005, 3}};
  expectRanges(keepRanges(10, removed), {{0, 1}, {3, 10}});
  const std::vector<TimeRange> edges{{0.005, 4}, {9.995, 10}};
  expectRanges(keepRanges(10, edges), {{4, 9.995}});
  expectRanges(keepRanges(5, {}), {{0, 5}});

  const std::vector<TimeRange> whole{{0, 10}};
  const std::vector<TimeRange> holes{{5, 6}, {2, 3}};
  expectRanges(subtracting(whole, holes), {{0, 2}, {3, 5}, {6, 10}});
  const std::vector<TimeRange> sliver{{0, 0.0005}};
  expectRanges(subtracting(whole, sliver), {{0.0005, 10}});
  EXPECT_TRUE(subtracting({}, holes).empty());
  // Several ranges against several removals, one removal spanning two ranges.
  const std::vector<TimeRange> keeps{{0, 2}, {3, 5}, {8, 9}};
  const std::vector<TimeRange> cuts{{1, 4}, {4.5, 4.6}, {9, 12}};
  expectRanges(subtracting(keeps, cuts), {{0, 1}, {4, 4.5}, {4.6, 5}, {8, 9}});
}
