#include "kestrane/transcribe/HeldSound.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using kestrane::HeldSound::isHeld;

namespace {
std::vector<std::int16_t> signal(double seconds, const std::function<double(double)>& at) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(seconds * 16000));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::int16_t>(12000 * at(double(i) / 16000));
  return out;
}
}  // namespace

TEST(HeldSound, SteadyVoiceAgainstSyllablesNoiseAndShortSounds) {
  // A held vowel: a 120 Hz voice with two formant-like partials at an even loudness.
  auto vowel = [](double t) { return 0.6 * std::sin(2 * M_PI * 120 * t) + 0.3 * std::sin(2 * M_PI * 720 * t); };
  const auto held = signal(0.5, vowel);
  EXPECT_TRUE(isHeld(held.data(), held.size(), 16000));

  // The same voice rising and falling four times a second, as syllables do.
  const auto words = signal(0.5, [&](double t) { return vowel(t) * (0.55 + 0.45 * std::sin(2 * M_PI * 4 * t)); });
  EXPECT_FALSE(isHeld(words.data(), words.size(), 16000));

  // Hiss is steady but not voiced.
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-0.5, 0.5);
  const auto hiss = signal(0.5, [&](double) { return noise(random); });
  EXPECT_FALSE(isHeld(hiss.data(), hiss.size(), 16000));

  // Too short to be a hesitation.
  const auto blip = signal(0.2, vowel);
  EXPECT_FALSE(isHeld(blip.data(), blip.size(), 16000));
}

TEST(HeldSound, AHeldVoiceFoundInsideQuietButNotRoomToneOrSyllables) {
  using kestrane::HeldSound::heldWithin;
  auto vowel = [](double t) { return 0.6 * std::sin(2 * M_PI * 120 * t) + 0.3 * std::sin(2 * M_PI * 720 * t); };
  // Quiet room tone (about -60 dBFS) with a held vowel from 0.4 to 0.9 s.
  std::mt19937 random(3);
  std::uniform_real_distribution<double> noise(-0.004, 0.004);
  const auto gap =
      signal(1.5, [&](double t) { return noise(random) / 0.366 + (t >= 0.4 && t < 0.9 ? vowel(t) : 0.0); });
  const auto span = heldWithin(gap.data(), gap.size(), 16000, -30);
  EXPECT_NEAR(double(span.first) / 16000, 0.4, 0.011);
  EXPECT_NEAR(double(span.last) / 16000, 0.9, 0.011);
  EXPECT_NEAR(kestrane::HeldSound::frameLevelDB(gap.data(), gap.size(), 16000, 1.0), -15.2, 0.5);
  EXPECT_NEAR(kestrane::HeldSound::frameLevelDB(gap.data(), gap.size(), 16000, 0.1), -52.7, 2.0);

  // Room tone alone is below the voice's level; syllables are not held.
  const auto room = signal(1.5, [&](double) { return noise(random) / 0.366; });
  EXPECT_EQ(heldWithin(room.data(), room.size(), 16000, -30).last, 0u);
  const auto words = signal(1.0, [&](double t) { return vowel(t) * (0.55 + 0.45 * std::sin(2 * M_PI * 4 * t)); });
  EXPECT_EQ(heldWithin(words.data(), words.size(), 16000, -30).last, 0u);
}
