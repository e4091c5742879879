#pragma once
// Whether what the recognizer heard is only in the audio the cut treats as silence: room tone
// and rustles can give a word or two that no one said.
#include <vector>

#include "kestrane/analysis/LevelTrack.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::AudioAnalyzer {

// True when there are words and every one lies inside a silence span found at the threshold a
// cut suggests for these levels, with the utterance splitter's minimum length.
bool wordsOnlyInSilence(const std::vector<TranscriptWord>& words, const LevelTrack& track);

}  // namespace kestrane::AudioAnalyzer
