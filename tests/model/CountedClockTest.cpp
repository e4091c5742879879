// A session an earlier build stored, its times counted by samples, moved onto the file's clock:
// every source time moves with the sound, nothing goes backwards, the cut still covers the
// footage, and the session says which clock it keeps.
#include "kestrane/model/CountedClock.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kestrane/model/SessionJson.hpp"

using namespace kestrane;

namespace {

// Sound that starts 0.1 s after the picture, loses 0.5 s at 10 s counted, and gives 0.2 s twice
// at 20 s counted.
const CountedClock kClock{{{0, 0.1}, {10, 0.6}, {20, 0.4}}};

}  // namespace

TEST(CountedClock, MovesEveryTimeWithTheSoundAndNeverBackwards) {
  EXPECT_DOUBLE_EQ(kClock.onFileClock(5), 5.1);
  EXPECT_DOUBLE_EQ(kClock.onFileClock(9.99), 10.09);
  EXPECT_DOUBLE_EQ(kClock.onFileClock(10), 10.6);
  // The time an overlap gives twice keeps the place it was first heard at.
  EXPECT_DOUBLE_EQ(kClock.onFileClock(20), 20.6);
  EXPECT_DOUBLE_EQ(kClock.onFileClock(20.1), 20.6);
  EXPECT_DOUBLE_EQ(kClock.onFileClock(20.3), 20.7);
  EXPECT_TRUE(CountedClock{}.agrees());
  EXPECT_TRUE((CountedClock{{{0, 0}}}.agrees()));
  EXPECT_FALSE(kClock.agrees());
}

TEST(CountedClock, ASessionMovesWholeOntoTheFilesClock) {
  KestraneSession counted;
  counted.source.durationSeconds = 30;
  counted.transcript = Transcript{{{"before", {9.5, 9.9}}, {"after", {10.2, 10.6}}, {"twice", {20.0, 20.3}}}};
  counted.silences = std::vector<SilenceSpan>{{{0, 1}, -70}};
  counted.cutList = CutList{{{{0, 9.95}, SegmentKind::keep}, {{9.95, 20.05}, SegmentKind::silence}, {{20.05, 30}}}};
  counted.roughCutCutList = counted.cutList;
  counted.advisories = std::vector<Advisory>{{{10.2, 10.6}, "a note"}};
  counted.takeGroups = std::vector<TakeGroupInfo>{{1, {10.2, 10.6}, std::vector<TimeRange>{{9.5, 9.9}}}};
  counted.settings.manualKeepRanges = std::vector<TimeRange>{{29.8, 30}};
  std::vector<float> levels(3000, -20);
  levels[0] = -5;  // the first hop heard
  std::vector<float> speech(3000, -30);
  speech[0] = -15;
  counted.levels = LevelData::fromLevels(0.01, levels, speech);
  counted.soundTiming = SoundTiming::countedSamples;

  const KestraneSession moved = onFileClock(counted, kClock);
  EXPECT_EQ(moved.soundTiming, SoundTiming::timestamps);
  const std::vector<TranscriptWord>& words = moved.transcript->words;
  EXPECT_DOUBLE_EQ(words[0].range.start, 9.6);
  EXPECT_DOUBLE_EQ(words[1].range.start, 10.8);
  EXPECT_DOUBLE_EQ(words[2].range.start, 20.6);
  EXPECT_DOUBLE_EQ(words[2].range.end, 20.7);
  EXPECT_DOUBLE_EQ((*moved.advisories)[0].range.start, 10.8);
  EXPECT_DOUBLE_EQ((*moved.takeGroups)[0].winnerRange.start, 10.8);
  EXPECT_DOUBLE_EQ((*(*moved.takeGroups)[0].alternateRanges)[0].start, 9.6);
  // Nothing is moved past the footage's end, and the cut still runs from its start to its end.
  EXPECT_DOUBLE_EQ((*moved.settings.manualKeepRanges)[0].end, 30);
  const std::vector<Segment>& segments = moved.cutList->segments;
  EXPECT_EQ(segments.front().range.start, 0);
  EXPECT_EQ(segments.back().range.end, 30);
  for (std::size_t i = 1; i < segments.size(); ++i) EXPECT_EQ(segments[i].range.start, segments[i - 1].range.end);
  // The movie was always rendered by the file's clock: what it shows is not moved.
  EXPECT_EQ(moved.roughCutCutList->segments, counted.roughCutCutList->segments);
  // The levels lie where the sound does: the first heard one 0.1 s on, silence where sound was lost.
  const std::vector<float> onClock = moved.levels->levelsDBFS();
  EXPECT_EQ(onClock[9], -80);
  EXPECT_EQ(onClock[10], -5);
  EXPECT_EQ(onClock[1030], -80);
  EXPECT_EQ(onClock[1070], -20);
  const std::vector<float> speechOnClock = moved.levels->speechLevelsDBFS();
  ASSERT_EQ(speechOnClock.size(), onClock.size());
  EXPECT_EQ(speechOnClock[9], -80);
  EXPECT_EQ(speechOnClock[10], -15);
  EXPECT_EQ(speechOnClock[1070], -30);

  // The moved session is saved and read back as on the file's clock; one without a clock, as an
  // earlier build wrote it, reads as counted.
  EXPECT_NO_THROW(SessionJson::decode(SessionJson::encode(moved)));
  EXPECT_EQ(SessionJson::decode(SessionJson::encode(moved)).soundTiming, SoundTiming::timestamps);
  nlohmann::ordered_json earlier = nlohmann::ordered_json::parse(SessionJson::encode(moved));
  earlier.erase("soundTiming");
  EXPECT_EQ(SessionJson::decode(earlier.dump()).soundTiming, SoundTiming::countedSamples);
}
