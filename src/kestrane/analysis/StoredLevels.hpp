#pragma once
// What a cut stores of its footage's loudness, so that a re-cut and a render can tell the footage
// from other recordings by its sound: its levels, and its speech band's alike where the levels
// alone are too even over much of its speech (steady noise near the voice: a loud room, tape
// hiss, wind, traffic) and the speech band tells more of it. Most footage needs only its levels;
// an hour of either is 360,000 hops.
#include "kestrane/analysis/LevelTrack.hpp"
#include "kestrane/model/LevelData.hpp"

namespace kestrane::AudioAnalyzer {

// Share of the stretches holding speech whose levels must tell (LevelMatch tellingShare) for the
// levels to be stored alone. Eight readings in a quiet room tell in all of them; under steady
// white or brown noise 6 or 4 dB, or pink noise 2 or 1 dB, below the voice, in 0.18 or less.
inline constexpr double kLevelsTellEnough = 0.8;

// `track` as stored: its speech band's levels only where they are needed and were measured.
LevelData storedLevels(const LevelTrack& track);

}  // namespace kestrane::AudioAnalyzer
