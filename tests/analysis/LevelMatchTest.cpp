// What makes a stretch of levels tell one recording from another; how real copies and other
// recordings fare is the footage check's to show.
#include "kestrane/analysis/LevelMatch.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "kestrane/analysis/StoredLevels.hpp"

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

namespace {

// Two seconds of a voice: syllables of `syllableHops` at -20 dBFS with consonants at -40 between
// them, paused at -60 for the hops `pauses` says.
std::vector<float> spoken(std::size_t syllableHops, const std::function<bool(std::size_t)>& pauses) {
  std::vector<float> levels(200);
  for (std::size_t i = 0; i < levels.size(); ++i)
    levels[i] = pauses(i) ? -60.0f : (i / syllableHops) % 2 ? -40.0f : -20.0f;
  return levels;
}

// `levels` heard `shift` hops later, with `margin` hops either side.
std::vector<float> heardLater(
    const std::vector<float>& levels, int shift, int margin,
    const std::function<float(float)>& through = [](float level) { return level; }) {
  std::vector<float> heard(levels.size() + 2 * static_cast<std::size_t>(margin), -60.0f);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const auto at = static_cast<std::ptrdiff_t>(i) + margin + shift;
    if (at >= 0 && at < static_cast<std::ptrdiff_t>(heard.size()))
      heard[static_cast<std::size_t>(at)] = through(levels[i]);
  }
  return heard;
}

}  // namespace

// How the levels change over a few hops tells a voice's syllables, which a copy keeps however a
// compressor squeezes them and wherever it moves the best fit of its loudness, and which another
// voice reading in the same pauses doesn't share though its loudness rises and falls there too.
TEST(LevelMatch, TheChangesOfTheLevelsTellAnotherVoiceInTheSamePauses) {
  constexpr int margin = 6;
  const auto pauses = [](std::size_t i) { return i < 30 || (i >= 110 && i < 140); };
  const std::vector<float> stored = spoken(12, pauses);
  const double loud = -20;

  // Squeezed: everything above -45 dB lifted towards -14, the quieter syllables most.
  const auto squeezed = [](float level) { return level > -45 ? -14 + (level + 20) * 0.3f : level + 20; };
  const LevelMatch copy = matchLevels(stored, heardLater(stored, 3, margin, squeezed), margin, loud);
  ASSERT_TRUE(copy.telling);
  EXPECT_EQ(copy.changeShift, 3);
  EXPECT_GT(copy.changeLikeness, 0.8);
  EXPECT_LT(copy.changeLikenessUnshifted, copy.changeLikeness - kShownShiftLikeness);

  const LevelMatch other = matchLevels(stored, heardLater(spoken(17, pauses), 0, margin), margin, loud);
  ASSERT_TRUE(other.telling);
  EXPECT_GT(other.likeness, 0.6) << "the pauses alone line up";
  EXPECT_LT(other.changeLikeness, copy.changeLikeness - 0.35) << other.changeLikeness << " " << other.likeness;
}

// Speech in a quiet room rises and falls in nearly every stretch that holds it; under steady noise
// a few dB below it, its loudness hardly moves, and the speech band's levels are stored to tell it
// by. Neither is stored where it tells no more than the levels do.
TEST(LevelMatch, TheSpeechBandIsStoredOnlyWhereTheLevelsAreTooEven) {
  std::vector<float> quiet, noisy, band, flat;
  for (int second = 0; second < 30; ++second) {
    const std::vector<float> voice = spoken(10 + second % 5, [](std::size_t i) { return i % 100 > 70; });
    for (std::size_t i = 0; i < 100; ++i) {
      quiet.push_back(voice[i]);
      // Noise 4 dB under the voice's loud level fills its pauses and quieter syllables.
      noisy.push_back(std::max(voice[i], -24.0f) + static_cast<float>(i % 3));
      band.push_back(voice[i] - 6);
      flat.push_back(-30.0f + static_cast<float>(i % 2));
    }
  }
  EXPECT_GT(tellingShare(quiet), 0.95);
  EXPECT_LT(tellingShare(noisy), 0.05);
  EXPECT_EQ(storedLevels({quiet, 0.01, band}).speechLevelsDBFS(), std::vector<float>{});
  const kestrane::LevelData stored = storedLevels({noisy, 0.01, band});
  EXPECT_EQ(stored.levelsDBFS(), noisy);
  EXPECT_EQ(stored.speechLevelsDBFS(), band);
  EXPECT_EQ(storedLevels({noisy, 0.01, flat}).speechLevelsDBFS(), std::vector<float>{});
}
