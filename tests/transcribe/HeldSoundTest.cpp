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
