#pragma once
// Silence spans found in a loudness envelope: the stretches a cut may remove.
#include <vector>

#include "kestrane/analysis/LevelTrack.hpp"
#include "kestrane/model/SilenceSpan.hpp"

namespace kestrane::AudioAnalyzer {

// Runs of hops strictly below the threshold lasting at least minDuration seconds, in time
// order, each with the mean level of its hops. A level equal to the threshold is speech.
// Two spans are always separated by at least one louder hop.
std::vector<SilenceSpan> silences(const LevelTrack& track, double thresholdDBFS, double minDuration);

}  // namespace kestrane::AudioAnalyzer
