#include "kestrane/analysis/SpeechInSilence.hpp"

#include <algorithm>

#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/model/SilenceSpan.hpp"

namespace kestrane::AudioAnalyzer {

namespace {
// Word edges are the recognizer's guess to a frame or two.
constexpr double kEdgeSlack = 0.03;
}  // namespace

bool wordsOnlyInSilence(const std::vector<TranscriptWord>& words, const LevelTrack& track) {
  if (words.empty() || track.levelsDBFS.empty()) return false;
  const double threshold = thresholdDBFS(SilenceSensitivity::automatic, track.levelsDBFS);
  const auto spans = silences(track, threshold, kSplitterMinSilence);
  return std::all_of(words.begin(), words.end(), [&](const TranscriptWord& w) {
    return std::any_of(spans.begin(), spans.end(), [&](const SilenceSpan& s) {
      return w.range.start >= s.range.start - kEdgeSlack && w.range.end <= s.range.end + kEdgeSlack;
    });
  });
}

}  // namespace kestrane::AudioAnalyzer
