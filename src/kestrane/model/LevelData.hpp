#pragma once
// The loudness envelope as stored: one signed byte of whole dBFS per hop, base64-encoded; and,
// for footage whose loudness alone is too even to know it by, its speech band's alike.
#include <string>
#include <vector>

namespace kestrane {

struct LevelData {
  double hopDuration = 0.01;
  std::string base64;
  // The levels of the footage's speech band on the same hops, in the same form; empty where the
  // loudness of the whole sound tells the footage well enough (the most of it: steady noise near
  // the voice is what needs them).
  std::string speechBase64;

  // Rounds each level half away from zero and clamps it to −128…127; a level that is not
  // finite is stored as the floor (−128 for NaN and −∞, 127 for +∞).
  static LevelData fromLevels(double hopDuration, const std::vector<float>& levelsDBFS,
                              const std::vector<float>& speechLevelsDBFS = {});

  // Strict base64 decode; text that does not decode is an empty envelope.
  std::vector<float> levelsDBFS() const;
  std::vector<float> speechLevelsDBFS() const;
};

}  // namespace kestrane
