#include <gtest/gtest.h>

#include "kestrane/analysis/SilenceDetection.hpp"

using namespace kestrane;
using AudioAnalyzer::LevelTrack;
using AudioAnalyzer::silences;

TEST(Silences, RunsBelowThresholdWithMinimumLength) {
  EXPECT_TRUE(silences(LevelTrack{}, -50, 0.1).empty());

  const LevelTrack track{{-30, -70, -70, -70, -30}, 0.01};
  auto spans = silences(track, -50, 0.025);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_DOUBLE_EQ(spans[0].range.start, 0.01);
  EXPECT_DOUBLE_EQ(spans[0].range.end, 0.04);
  EXPECT_DOUBLE_EQ(spans[0].meanLevelDBFS, -70);
  EXPECT_TRUE(silences(track, -50, 0.035).empty());

  // A level exactly at the threshold is speech, so it splits the run.
  const LevelTrack split{{-70, -70, -50, -70, -70, -70}, 0.01};
  spans = silences(split, -50, 0.0);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_DOUBLE_EQ(spans[0].range.end, 0.02);
  EXPECT_DOUBLE_EQ(spans[1].range.start, 0.03);
}

TEST(Silences, RunReachingTheEndAndMeanLevel) {
  const LevelTrack track{{-20, -60, -70, -80}, 0.01};
  const auto spans = silences(track, -40, 0.0);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_DOUBLE_EQ(spans[0].range.start, 0.01);
  EXPECT_DOUBLE_EQ(spans[0].range.end, 0.04);
  EXPECT_DOUBLE_EQ(spans[0].meanLevelDBFS, -70);

  // A whole silent track is one span from 0 to its end.
  const LevelTrack quiet{std::vector<float>(300, -75.5f), 0.01};
  const auto all = silences(quiet, -40, 0.7);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_DOUBLE_EQ(all[0].range.start, 0);
  EXPECT_DOUBLE_EQ(all[0].range.end, 3.0);
  EXPECT_FLOAT_EQ(static_cast<float>(all[0].meanLevelDBFS), -75.5f);
}
