#pragma once
// Whether a stretch of sound heard now is the stretch a stored loudness envelope was measured
// from. Levels are compared by their shape, not their loudness: a copy made louder or quieter,
// or re-encoded at another bit rate or codec, keeps the shape; another recording, the same one
// played backwards or trimmed at its start does not. Quiet levels far below the stretch's
// loudest say little (a codec wipes room tone away) and are not compared.
#include <cstddef>
#include <vector>

namespace kestrane::AudioAnalyzer {

struct LevelMatch {
  // The stored stretch rises and falls enough for its shape to tell one recording from another;
  // a flat one (silence, a steady hum) tells nothing and the rest is left at its defaults.
  bool telling = false;
  // How far, in hops, the heard levels best line up with the stored ones: positive when the
  // heard sound comes later than the stored one.
  int shift = 0;
  // The mean difference in dB, loudness set aside, at the best shift and at no shift.
  double mismatch = 0;
  double mismatchUnshifted = 0;
};

// Largest mean difference, in dB, at which a telling stretch is the same sound.
inline constexpr double kSameSoundMismatchDB = 3.0;
// Levels further than this below the loud ones are room tone and codec noise, which a copy need
// not keep: they are never compared.
inline constexpr double kComparedRangeDB = 35;

// The loud level of `levels` (not empty): nine in ten lie at or below it, so a single click
// moves it no more than a dropout moves the quiet ones.
double loudLevel(const std::vector<float>& levels);

// `stored` is a stretch of stored levels; `heard` the levels measured now over the same stretch
// widened by `maxShift` hops on each side, so that heard[maxShift + i] lies where stored[i] does.
// `heardFloorHides`: the heard levels stop at a meter's floor, which hides how quiet a copy made
// quieter really is, so nothing is compared below where that floor lies once the loudness change
// is set aside.
LevelMatch matchLevels(const std::vector<float>& stored, const std::vector<float>& heard, int maxShift,
                       bool heardFloorHides = false);

}  // namespace kestrane::AudioAnalyzer
