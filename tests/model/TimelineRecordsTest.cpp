#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/Transcript.hpp"

using namespace kestrane;

TEST(TimelineRecords, RangesOverlapOnlyWhenTheyShareTime) {
  EXPECT_FALSE((TimeRange{0, 1}).overlaps({1, 2}));
  EXPECT_TRUE((TimeRange{0, 1.5}).overlaps({1, 2}));
  EXPECT_TRUE((TimeRange{1, 2}).overlaps({1, 2}));
  EXPECT_FALSE((TimeRange{2, 2}).overlaps({2, 2}));
}

TEST(TimelineRecords, CutListKeepsOnlyKeepSegmentsInOrder) {
  CutList cut{{{{0, 1}, SegmentKind::keep},
               {{1, 2}, SegmentKind::silence},
               {{2, 4.5}, SegmentKind::keep, std::string("restored by hand on the waveform")},
               {{4.5, 6}, SegmentKind::manual, std::string("restored by hand on the waveform")}}};
  const auto kept = cut.keptSegments();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].range, (TimeRange{0, 1}));
  EXPECT_EQ(kept[1].range, (TimeRange{2, 4.5}));
  EXPECT_DOUBLE_EQ(cut.keptDuration(), 3.5);
  EXPECT_DOUBLE_EQ(CutList{}.keptDuration(), 0);
  EXPECT_EQ(fromRawValue<SegmentKind>("retakeRejected"), SegmentKind::retakeRejected);
  EXPECT_EQ(fromRawValue<SegmentKind>("Keep"), std::nullopt);
}

TEST(TimelineRecords, TranscriptTextJoinsWithSingleSpaces) {
  Transcript t{{{"Hello", {0, 1}}, {"", {1, 2}}, {"world.", {2, 3}}}};
  EXPECT_EQ(t.text(), "Hello  world.");
  EXPECT_EQ(Transcript{}.text(), "");
}

TEST(TimelineRecords, LevelDataRoundsClampsAndDecodesStrictly) {
  const auto data = LevelData::fromLevels(0.01, {0.4f, -0.5f, 127.6f, -200.0f});
  const auto levels = data.levelsDBFS();
  ASSERT_EQ(levels.size(), 4u);
  EXPECT_EQ(levels, (std::vector<float>{0, -1, 127, -128}));
  EXPECT_EQ(data.base64, "AP9/gA==");  // bytes 00 FF 7F 80
  EXPECT_EQ(LevelData::fromLevels(0.01, {}).base64, "");
  EXPECT_TRUE((LevelData{0.01, "AP9/\ngA=="}).levelsDBFS().empty());
  EXPECT_TRUE((LevelData{0.01, "AP9"}).levelsDBFS().empty());
  EXPECT_TRUE((LevelData{0.01, "A=9/"}).levelsDBFS().empty());
  EXPECT_TRUE((LevelData{0.01, "AP*/"}).levelsDBFS().empty());
  // Non-finite levels never leak out of the clamp.
  const auto odd =
      LevelData::fromLevels(0.01, {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()});
  EXPECT_EQ(odd.levelsDBFS(), (std::vector<float>{-128, 127}));
}
