#pragma once
// Turns the recognizer's raw tokens into transcript words the decision engine can read:
// no silence or noise markers, no pronunciation-variant marks, hesitations spelled "um"/"uh",
// and sentence ends marked from the pauses (the recognizer writes no punctuation).
#include <functional>
#include <optional>
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
// A pause this long divides lines for the take decision, so the line before it is finished
// whatever its last word ("...what this is about").
inline constexpr double kLinePause = 0.7;

// True for the recognizer's markers: "<s>", "</s>", "<sil>", "[NOISE]", "++UM++" and the like.
bool isMarker(const std::string& token);

// "to(2)" -> "to".
std::string withoutVariant(const std::string& token);

// True for the hesitation words the recognizer can write.
bool isHesitation(const std::string& word);

// Whether the audio between two times (seconds) is one held, steady sound.
using HeldTest = std::function<bool(double start, double end)>;

// How the cut's filler list spells a hesitation the recognizer writes otherwise ("er" is "erm",
// "mm" is "mmm", "umm" is "um"); any other word as it is.
std::string fillerSpelling(const std::string& word);

// Whether a `hesitation` heard from `start` to `end` (seconds) right after the last of `words` is
// the end of that word, not a filler: it starts where the word ends, with no pause between, and
// is too short to be held (under 0.3 s). The recognizer hears the hum of a closing nasal ("from",
// "them", "down") or a vowel's release that way, and a piece of a word ("um" from "room"); a
// filler cut there would take a piece out of the word. It stays a hesitation after a word ending
// in "r" (a held "erm" heard as "her um") and after a conjunction, article or preposition, where
// speakers stop to think ("the um"), unless it is an "um" after one ending in a nasal ("from um").
bool isWordTail(const std::vector<TranscriptWord>& words, const std::string& hesitation, double start, double end);

// Words from one decoded stretch, in order. The recognizer writes a drawn-out "uhhh" between
// words as speech-like noise ("[SPEECH]"); such a token of at least 0.25 s that `isHeld` confirms
// becomes "uh". A hesitation shorter than 0.12 s is not one: a short
// "uh" before a word is the article "a", anything else that short is dropped. Hesitations that
// are a word's tail (isWordTail, judged on the run of them heard with no gap between) are dropped
// with it, and so is a longer one glued to the end of a word and followed by a pause (a held
// vowel release, or a hum after a nasal). A run under 0.3 s that opens a sentence (0.3 s or more
// after the last word) and runs straight into the next word is that word's start, dropped too.
std::vector<TranscriptWord> wordsFromTokens(const std::vector<TimedToken>& tokens, const HeldTest& isHeld = {});

// A drawn-out hesitation comes out of the recognizer as a short word ("a", "and", "in", ...)
// or a few of them, held far longer than the word takes. Such a word, or such a run with no gap
// inside, becomes one "um" (when it ends in a nasal) or "uh" over the same time, when `isHeld`
// (if given) confirms the sound is steady. The words are one decoded stretch: its first and last
// words border a pause. A run holding a real word needs strong evidence: held at least 0.45 s,
// with a pause on at least one side, never in the middle of fluent speech.
//
// Any other one-syllable word that ends like a held sound (in a vowel, "m", "n" or "r", not in a
// hiss or a stop) held at least 0.45 s, with a word soon after (the last word before
// a pause is drawn out by every reader), that `isHeld` confirms steady is a hesitation
// the recognizer mistook for a word ("charm" for a drawn-out "erm"): a spoken word does not keep
// one sound that long.
// Hesitations that follow each other within 0.3 s are one.
void markHeldHesitations(std::vector<TranscriptWord>& words, const HeldTest& isHeld = {});

// The held sound, if any, between two times (seconds) in which the recognizer heard no word.
using HeldFinder = std::function<std::optional<TimeRange>(double start, double end)>;

// Adds a "uh" for each held sound `find` reports in a gap of at least 0.3 s between the words,
// or between the stretch's edges (`from`, `to`) and its first or last word: the recognizer
// sometimes hears nothing at all in a drawn-out hesitation. A held sound that is the tail of the
// word before it (isWordTail) is not one.
void addUnheardHesitations(std::vector<TranscriptWord>& words, double from, double to, const HeldFinder& find);

// Ends a word with "." when it is followed by a pause of at least `pause` seconds or is the last
// word, unless it is a conjunction, article or preposition that leaves the sentence hanging and
// the pause is shorter than kLinePause. A hesitation never ends a sentence. The word after a
// sentence end, and the first word, are capitalised.
void markSentenceEnds(std::vector<TranscriptWord>& words, double pause = kSentencePause);

}  // namespace kestrane::RecognizedWords
