// What makes a stretch of levels tell one recording from another; how real copies and other
// recordings fare is the footage check's to show.
#include "kestrane/analysis/LevelMatch.hpp"

#include <gtest/gtest.h>

using namespace kestrane::AudioAnalyzer;

// A stretch tells by its speech, measured against the whole recording's loud level: the last
// seconds with a word's tail in room tone say nothing, however their own levels spread. Two
// seconds of room tone at -60 dBFS with syllables at -20 and -32 in the first of them, heard
// again a hop later without the room tone, as a low bit rate leaves it.
TEST(LevelMatch, AStretchNearlyAllRoomToneTellsNothing) {
  constexpr int margin = 40;
  constexpr double loud = -20;
  for (const std::size_t speechHops : {40, 60}) {
    std::vector<float> stored(200, -60.0f), heard(200 + 2 * margin, -80.0f);
    for (std::size_t i = 0; i < speechHops; ++i) stored[i] = heard[margin + 1 + i] = (i / 10) % 2 ? -32.0f : -20.0f;
    const LevelMatch match = matchLevels(stored, heard, margin, loud);
    EXPECT_EQ(match.telling, speechHops == 60) << speechHops;
    if (!match.telling) continue;
    EXPECT_EQ(match.shift, 1);
    EXPECT_GT(match.likeness, kSameSoundLikeness);
  }
}
