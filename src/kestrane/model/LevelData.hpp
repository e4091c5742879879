#pragma once
// The loudness envelope as stored: one signed byte of whole dBFS per hop, base64-encoded.
#include <string>
#include <vector>

namespace kestrane {

struct LevelData {
  double hopDuration = 0.01;
  std::string base64;

  // Rounds each level half away from zero and clamps it to −128…127; a level that is not
  // finite is stored as the floor (−128 for NaN and −∞, 127 for +∞).
  static LevelData fromLevels(double hopDuration, const std::vector<float>& levelsDBFS);

  // Strict base64 decode; text that does not decode is an empty envelope.
  std::vector<float> levelsDBFS() const;
};

}  // namespace kestrane
