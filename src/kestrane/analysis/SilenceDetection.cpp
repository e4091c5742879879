#include "kestrane/analysis/SilenceDetection.hpp"

#include <cstddef>

#include "kestrane/model/Cancelled.hpp"

namespace kestrane::AudioAnalyzer {

std::vector<SilenceSpan> silences(const LevelTrack& track, double thresholdDBFS, double minDuration) {
  std::vector<SilenceSpan> spans;
  const auto& levels = track.levelsDBFS;
  const double hop = track.hopDuration;

  // The mean is summed in single precision, in index order, so stored spans read the same
  // wherever they were measured.
  auto closeRun = [&](std::size_t runStart, std::size_t runEnd) {
    const double start = hop * static_cast<double>(runStart);
    const double end = hop * static_cast<double>(runEnd);
    if (!(minDuration <= end - start)) return;
    float sum = 0;
    for (std::size_t k = runStart; k < runEnd; ++k) sum += levels[k];
    const float mean = sum / static_cast<float>(runEnd - runStart);
    spans.push_back(SilenceSpan{TimeRange{start, end}, static_cast<double>(mean)});
  };

  bool inSpeech = true;
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if ((i + 1) % (1u << 20) == 0) checkpoint();
    const bool silent = static_cast<double>(levels[i]) < thresholdDBFS;
    if (silent) {
      if (inSpeech) runStart = i;
      inSpeech = false;
    } else if (!inSpeech) {
      closeRun(runStart, i);
      inSpeech = true;
    }
  }
  if (!inSpeech) closeRun(runStart, levels.size());
  return spans;
}

}  // namespace kestrane::AudioAnalyzer
