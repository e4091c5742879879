#pragma once
// Turns the recognizer's raw tokens into transcript words the decision engine can read:
// no silence or noise markers, no pronunciation-variant marks, hesitations spelled "um"/"uh",
// and sentence ends marked from the pauses (the recognizer writes no punctuation).
#include <string>
#include <vector>

#include "kestrane/model/Transcript.hpp"

namespace kestrane::RecognizedWords {

struct TimedToken {
    std::string text;
    double start = 0;
    double end = 0;
};

// A pause at least this long after a word ends its sentence. Tuned on synthetic and read
// speech: commas pause for 0.1–0.25 s, sentence ends for 0.3 s and more.
inline constexpr double kSentencePause = 0.3;

// True for the recognizer's markers: "<s>", "</s>", "<sil>", "[NOISE]", "++UM++" and the like.
bool isMarker(const std::string& token);

// "to(2)" -> "to".
std::string withoutVariant(const std::string& token);

// True for the hesitation words the recognizer can write.
bool isHesitation(const std::string& word);

// Words from one decoded stretch, in order. A hesitation glued to the end of the word before it
// and followed by a pause is the tail of that word (a trailing vowel release), not a filler, and
// is dropped.
std::vector<TranscriptWord> wordsFromTokens(const std::vector<TimedToken>& tokens);

// Ends a word with "." when it is followed by a pause of at least `pause` seconds or is the last
// word, unless it is a conjunction, hesitation, article or preposition that leaves the sentence
// hanging; the word after a sentence end, and the first word, are capitalised.
void markSentenceEnds(std::vector<TranscriptWord>& words, double pause = kSentencePause);

}  // namespace kestrane::RecognizedWords
