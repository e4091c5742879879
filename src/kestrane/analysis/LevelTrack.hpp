#pragma once
// The measured loudness envelope: one level in dBFS per hop, in time order.
#include <cstddef>
#include <vector>

namespace kestrane::AudioAnalyzer {

struct LevelTrack {
  std::vector<float> levelsDBFS;
  // Every track we measure uses 10 ms hops, whatever the sample rate.
  double hopDuration = 0.01;
  // The levels of the speech band (SpeechBand) in the same windows, where they were measured;
  // empty otherwise.
  std::vector<float> speechLevelsDBFS;

  // Level i belongs to the time i * hopDuration.
  double time(std::size_t hop) const { return static_cast<double>(hop) * hopDuration; }

  friend bool operator==(const LevelTrack&, const LevelTrack&) = default;
};

}  // namespace kestrane::AudioAnalyzer
