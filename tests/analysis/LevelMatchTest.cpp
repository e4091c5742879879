// How a stretch of heard levels is held against stored ones: by shape, loudness set aside.
#include "kestrane/analysis/LevelMatch.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace kestrane::AudioAnalyzer;

namespace {

constexpr int kMargin = 40;

// Two seconds of speech-like levels: syllables of loud and quiet hops over room tone.
std::vector<float> speech(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<float> levels;
  while (levels.size() < 200) {
    const auto syllable = 8 + random() % 20;
    const float loud = -30.0f + static_cast<float>(random() % 15);
    for (unsigned i = 0; i < syllable; ++i) levels.push_back(loud + static_cast<float>(random() % 4));
    for (unsigned i = random() % 25; i > 0; --i) levels.push_back(-62.0f + static_cast<float>(random() % 3));
  }
  levels.resize(200);
  return levels;
}

// `stored` heard again: moved later by `shift` hops, `gain` dB louder, whole decibels wobbling by
// up to one, and room tone under `floor` lost to a codec.
std::vector<float> heardAgain(const std::vector<float>& stored, int shift, float gain, float floor = -80) {
  std::vector<float> heard(stored.size() + 2 * kMargin, -62.0f + gain);
  std::mt19937 random(99);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const float level = stored[i] + gain + static_cast<float>(random() % 3) - 1.0f;
    heard[kMargin + i + shift] = std::max(level < floor ? -80.0f : level, -80.0f);
  }
  return heard;
}

}  // namespace

TEST(LevelMatch, TheSameSoundMatchesAtItsShiftWhateverItsLoudness) {
  const std::vector<float> stored = speech(1);
  for (const float gain : {0.0f, 9.0f, -14.0f}) {
    const LevelMatch same = matchLevels(stored, heardAgain(stored, 0, gain, -50), kMargin);
    EXPECT_TRUE(same.telling);
    EXPECT_EQ(same.shift, 0) << gain;
    EXPECT_LT(same.mismatch, kSameSoundMismatchDB / 2) << gain;
  }
  // Heard later (a container that keeps the encoder's delay) and earlier (a trim at the start).
  for (const int shift : {2, -4, 25}) {
    const LevelMatch moved = matchLevels(stored, heardAgain(stored, shift, 0), kMargin);
    EXPECT_EQ(moved.shift, shift);
    EXPECT_LT(moved.mismatch, kSameSoundMismatchDB / 2);
    EXPECT_GT(moved.mismatchUnshifted, moved.mismatch + 1) << "the sound shows the move";
  }
}

TEST(LevelMatch, OtherSoundDiffersAndFlatSoundTellsNothing) {
  const std::vector<float> stored = speech(1);
  EXPECT_GT(matchLevels(stored, heardAgain(speech(2), 0, 0), kMargin).mismatch, kSameSoundMismatchDB);
  std::vector<float> backwards(stored.rbegin(), stored.rend());
  EXPECT_GT(matchLevels(stored, heardAgain(backwards, 0, 0), kMargin).mismatch, kSameSoundMismatchDB);

  const std::vector<float> hum(200, -40.0f);
  EXPECT_FALSE(matchLevels(hum, heardAgain(speech(2), 0, 0), kMargin).telling);
  // Too short a stretch, or too little heard around it, says nothing either.
  EXPECT_FALSE(matchLevels(std::vector<float>(stored.begin(), stored.begin() + 30),
                           heardAgain(std::vector<float>(stored.begin(), stored.begin() + 30), 0, 0), kMargin)
                   .telling);
  EXPECT_FALSE(matchLevels(stored, stored, kMargin).telling);
}
