#include "kestrane/analysis/StoredLevels.hpp"

#include "kestrane/analysis/LevelMatch.hpp"

namespace kestrane::AudioAnalyzer {

LevelData storedLevels(const LevelTrack& track) {
  const std::vector<float>& speech = track.speechLevelsDBFS;
  const double told = tellingShare(track.levelsDBFS);
  if (speech.size() != track.levelsDBFS.size() || told >= kLevelsTellEnough || tellingShare(speech) <= told)
    return LevelData::fromLevels(track.hopDuration, track.levelsDBFS);
  return LevelData::fromLevels(track.hopDuration, track.levelsDBFS, speech);
}

}  // namespace kestrane::AudioAnalyzer
