#include "kestrane/transcribe/RecognizedWords.hpp"

#include <gtest/gtest.h>

using namespace kestrane;
using namespace kestrane::RecognizedWords;

namespace {
std::vector<std::string> texts(const std::vector<TranscriptWord>& words) {
  std::vector<std::string> out;
  for (const auto& w : words) out.push_back(w.text);
  return out;
}
}  // namespace

TEST(RecognizedWords, MarkersVariantsAndHesitations) {
  const std::vector<TimedToken> tokens = {
      {"<s>", 0.0, 0.2},   {"so", 0.2, 0.4},         {"um", 0.4, 0.7},   {"and(2)", 0.7, 0.9}, {"[NOISE]", 0.9, 1.0},
      {"to(2)", 1.0, 1.1}, {"camera", 1.1, 1.6},     {"uh", 1.6, 1.7},   {"<sil>", 1.7, 2.0},  {"uh", 2.0, 2.3},
      {"<sil>", 2.3, 2.5}, {"++BREATH++", 2.5, 2.6}, {"well", 2.6, 2.9}, {"um", 2.9, 3.0},     {"</s>", 3.0, 3.1}};
  const auto words = wordsFromTokens(tokens);
  // "uh" glued to "camera" and followed by a pause is the word's trailing vowel; the "uh" between
  // two pauses and the "um" between words are hesitations; "um" glued before the end goes too.
  EXPECT_EQ(texts(words), (std::vector<std::string>{"so", "um", "and", "to", "camera", "uh", "well"}));
  EXPECT_EQ(words[3].range, (TimeRange{1.0, 1.1}));
  EXPECT_EQ(words[5].range, (TimeRange{2.0, 2.3}));
  EXPECT_EQ(withoutVariant("read(3)"), "read");
  EXPECT_EQ(withoutVariant("(2)"), "(2)");
}

TEST(RecognizedWords, HeldSoundsBecomeHesitations) {
  // Held: only the stretch from 1.0 to 1.5 s.
  const HeldTest held = [](double start, double end) { return start >= 1.0 && end <= 1.5; };
  const std::vector<TimedToken> tokens = {{"the", 0.5, 0.6},    {"<sil>", 0.6, 1.0},    {"[SPEECH]", 1.0, 1.45},
                                          {"<sil>", 1.45, 1.5}, {"[SPEECH]", 2.0, 2.5}, {"uh", 2.5, 2.56},
                                          {"walls", 2.56, 3.0}, {"um", 3.0, 3.05}};
  // The steady noise token is a held "uh"; the unsteady one stays out; a 60 ms "uh" before a word
  // is the article; a 50 ms "um" at the end is dropped.
  EXPECT_EQ(texts(wordsFromTokens(tokens, held)), (std::vector<std::string>{"the", "uh", "a", "walls"}));
  EXPECT_EQ(texts(wordsFromTokens(tokens)), (std::vector<std::string>{"the", "a", "walls"}));

  std::vector<TranscriptWord> words = {{"so", {0.5, 0.8}},     {"a", {1.0, 1.12}},  {"a", {1.12, 1.25}},
                                       {"in", {1.25, 1.5}},    {"and", {2.0, 2.4}}, {"a", {2.4, 2.45}},
                                       {"camera", {2.45, 3.0}}};
  markHeldHesitations(words, held);
  // "a a in" held over 0.5 s after a pause ends in a nasal: "um". The slow "and" is not steady: kept.
  EXPECT_EQ(texts(words), (std::vector<std::string>{"so", "um", "and", "a", "camera"}));
  EXPECT_EQ(words[1].range, (TimeRange{1.0, 1.5}));

  // A real word held a little long, or held long inside fluent speech, stays the word; held
  // long with a pause on one side it is a hesitation. A recognised "um" needs no pause.
  const HeldTest steady = [](double, double) { return true; };
  auto relabelled = [&](std::vector<TranscriptWord> line) {
    markHeldHesitations(line, steady);
    return texts(line);
  };
  using Texts = std::vector<std::string>;
  EXPECT_EQ(relabelled({{"spend", {0.0, 0.3}}, {"on", {0.3, 0.67}}, {"audio", {1.0, 1.4}}}),
            (Texts{"spend", "on", "audio"}));
  EXPECT_EQ(relabelled({{"spend", {0.0, 0.3}}, {"on", {0.3, 0.9}}, {"audio", {0.9, 1.4}}}),
            (Texts{"spend", "on", "audio"}));
  EXPECT_EQ(relabelled({{"spend", {0.0, 0.3}}, {"on", {0.3, 0.9}}, {"audio", {1.1, 1.4}}}),
            (Texts{"spend", "um", "audio"}));
  EXPECT_EQ(relabelled({{"spend", {0.0, 0.3}}, {"um", {0.3, 0.65}}, {"audio", {0.65, 1.4}}}),
            (Texts{"spend", "um", "audio"}));
  EXPECT_EQ(relabelled({{"on", {0.0, 0.6}}, {"audio", {0.6, 1.0}}}), (Texts{"um", "audio"}));
}

TEST(RecognizedWords, SentenceEndsFromPauses) {
  std::vector<TranscriptWord> words = {
      {"welcome", {0.0, 0.4}}, {"back", {0.4, 0.7}},  // pause follows: sentence end
      {"today", {1.2, 1.5}},   {"and", {1.5, 1.7}},   // a conjunction before a short pause: no end
      {"we", {2.2, 2.3}},      {"talk", {2.3, 2.5}},  // short pause: no end
      {"about", {2.7, 3.0}},   {"the", {3.0, 3.1}},   // article before a pause: no end
      {"lens", {3.7, 4.2}},    {"um", {4.7, 5.0}},    // a hesitation never ends, even before a long pause
      {"this", {6.0, 6.2}},    {"is", {6.2, 6.3}},    // a line pause ends the line whatever its last word
      {"what", {6.3, 6.5}},    {"it", {6.5, 6.6}},     {"is", {6.6, 6.7}},
      {"about", {6.7, 7.0}},   {"thanks", {7.7, 8.0}}, {"for", {8.0, 8.2}}};  // the last word ends its sentence
  markSentenceEnds(words, 0.3);
  EXPECT_EQ(texts(words),
            (std::vector<std::string>{"Welcome", "back.", "Today", "and", "we", "talk", "about", "the", "lens.", "Um",
                                      "this", "is", "what", "it", "is", "about.", "Thanks", "for."}));
  // Times are untouched.
  EXPECT_EQ(words[1].range, (TimeRange{0.4, 0.7}));
}

TEST(RecognizedWords, FillersMisheardAsWordsPiecesAndSilence) {
  using Texts = std::vector<std::string>;
  // Steady only from 0.33 to 0.9 s and from 2.0 to 2.7 s.
  const HeldTest held = [](double start, double end) {
    return (start >= 0.33 && end <= 0.9) || (start >= 2.0 && end <= 2.7);
  };
  const auto relabelled = [&](std::vector<TranscriptWord> line) {
    markHeldHesitations(line, held);
    return texts(line);
  };
  // A drawn-out "erm" heard as one steady syllable mid-line is a hesitation, spelled by its end.
  EXPECT_EQ(relabelled({{"show", {0.0, 0.3}}, {"charm", {0.33, 0.9}}, {"good", {0.92, 1.2}}}),
            (Texts{"show", "um", "good"}));
  // Not: a word ending in a hiss, one of several syllables, one before a pause, or one too short.
  EXPECT_EQ(relabelled({{"two", {1.5, 1.9}}, {"hours", {2.0, 2.7}}, {"when", {2.72, 2.9}}}),
            (Texts{"two", "hours", "when"}));
  EXPECT_EQ(relabelled({{"on", {1.5, 1.9}}, {"audio", {2.0, 2.7}}, {"first", {2.72, 2.9}}}),
            (Texts{"on", "audio", "first"}));
  EXPECT_EQ(relabelled({{"is", {1.5, 1.9}}, {"warm", {2.0, 2.7}}, {"so", {3.1, 3.3}}}), (Texts{"is", "warm", "so"}));
  EXPECT_EQ(relabelled({{"show", {0.0, 0.3}}, {"burn", {0.45, 0.85}}, {"good", {0.86, 1.2}}}),
            (Texts{"show", "burn", "good"}));

  // A short hesitation glued between two words is a piece of them ("um" from "room", "uh" inside
  // "today we are"); with a gap on one side it stays. Two hesitations close together are one.
  const std::vector<TimedToken> pieces = {
      {"of", 5.0, 5.15},  {"um", 5.15, 5.29},  {"tone", 5.29, 5.6}, {"we", 6.0, 6.23},  {"uh", 6.23, 6.37},
      {"are", 6.37, 6.7}, {"<sil>", 6.7, 7.0}, {"so", 7.0, 7.2},    {"uh", 7.25, 7.45}, {"then", 7.45, 7.7}};
  EXPECT_EQ(texts(wordsFromTokens(pieces)), (Texts{"of", "tone", "we", "are", "so", "uh", "then"}));
  std::vector<TranscriptWord> pair = {{"uh", {1.0, 1.2}}, {"um", {1.35, 1.6}}, {"so", {1.8, 2.0}}};
  markHeldHesitations(pair);
  EXPECT_EQ(texts(pair), (Texts{"um", "so"}));
  EXPECT_EQ(pair[0].range, (TimeRange{1.0, 1.6}));

  // The cut's spelling of the recognizer's other hesitations.
  const std::vector<TimedToken> tokens = {{"er", 0.0, 0.4}, {"<sil>", 0.4, 0.6}, {"mm", 0.6, 1.0}, {"umm", 1.2, 1.5}};
  EXPECT_EQ(texts(wordsFromTokens(tokens)), (Texts{"erm", "mmm", "um"}));
}

TEST(RecognizedWords, HeldSoundsInGapsWithNoWordBecomeHesitations) {
  using Texts = std::vector<std::string>;
  // Held sounds the finder knows of: 0.9-1.4 s (a hesitation), 5.0-6.5 s (too long: a note).
  std::vector<std::pair<double, double>> asked;
  const HeldFinder find = [&](double start, double end) -> std::optional<TimeRange> {
    asked.push_back({start, end});
    if (start <= 0.9 && end >= 1.4) return TimeRange{0.9, 1.4};
    if (start <= 5.0 && end >= 6.5) return TimeRange{5.0, 6.5};
    return std::nullopt;
  };
  std::vector<TranscriptWord> words = {{"so", {0.3, 0.6}}, {"show", {1.6, 1.9}}, {"you", {2.0, 2.2}}};
  addUnheardHesitations(words, 0.0, 7.0, find);
  EXPECT_EQ(texts(words), (Texts{"so", "uh", "show", "you"}));
  EXPECT_EQ(words[1].range, (TimeRange{0.9, 1.4}));
  // Gaps shorter than 0.3 s are not looked at; the stretch's edges are.
  EXPECT_EQ(asked, (std::vector<std::pair<double, double>>{{0.0, 0.3}, {0.6, 1.6}, {2.2, 7.0}}));
}

TEST(RecognizedWords, AShortHesitationAtAWordsEndIsPartOfTheWord) {
  using Texts = std::vector<std::string>;
  const auto heard = [](const std::vector<TimedToken>& tokens) { return texts(wordsFromTokens(tokens)); };
  // The hum of "plan" heard apart, the word spelled without its nasal; the release of "you"; a
  // hum and a vowel heard one after the other, still under 0.3 s together.
  EXPECT_EQ(heard({{"play", 0.0, 0.3}, {"um", 0.3, 0.5}, {"</s>", 0.5, 0.6}}), (Texts{"play"}));
  EXPECT_EQ(heard({{"you", 0.0, 0.2}, {"uh", 0.2, 0.44}, {"so", 0.47, 0.6}}), (Texts{"you", "so"}));
  EXPECT_EQ(heard({{"down", 0.0, 0.3}, {"uh", 0.3, 0.42}, {"um", 0.42, 0.58}, {"<sil>", 0.58, 0.9}}), (Texts{"down"}));

  // A filler stays one after a pause, held 0.3 s or longer, after "the" or "and", and after a
  // word ending in "r" (a held "erm" heard in two).
  EXPECT_EQ(heard({{"from", 0.0, 0.3}, {"<sil>", 0.3, 0.5}, {"um", 0.5, 0.7}, {"<sil>", 0.7, 0.9}}),
            (Texts{"from", "um"}));
  EXPECT_EQ(heard({{"play", 0.0, 0.3}, {"um", 0.3, 0.6}, {"so", 0.65, 0.8}}), (Texts{"play", "um", "so"}));
  EXPECT_EQ(heard({{"down", 0.0, 0.3}, {"uh", 0.3, 0.45}, {"um", 0.45, 0.65}, {"<sil>", 0.65, 0.9}}),
            (Texts{"down", "um"}));
  EXPECT_EQ(heard({{"the", 0.0, 0.1}, {"um", 0.1, 0.3}, {"<sil>", 0.3, 0.4}}), (Texts{"the", "um"}));
  EXPECT_EQ(heard({{"her", 0.0, 0.17}, {"um", 0.17, 0.33}, {"<sil>", 0.33, 0.4}}), (Texts{"her", "um"}));
  // "from um" is the nasal's own hum even though "from" leaves the sentence open.
  EXPECT_EQ(heard({{"from", 0.0, 0.3}, {"um", 0.3, 0.5}, {"you", 0.55, 0.7}}), (Texts{"from", "you"}));
  // A short "uh" before a hesitation is its first piece, not the article.
  EXPECT_EQ(heard({{"<s>", 0.0, 0.5}, {"uh", 0.5, 0.58}, {"um", 0.58, 0.76}, {"<sil>", 0.76, 0.9}}), (Texts{"um"}));

  // A short hesitation that opens a sentence and runs straight into a word is that word's start
  // ("come down" heard as "um down"); held, apart from the word, or inside a sentence, it stays.
  EXPECT_EQ(heard({{"<s>", 0.0, 0.5}, {"um", 0.5, 0.68}, {"down", 0.68, 0.9}}), (Texts{"down"}));
  EXPECT_EQ(heard({{"and", 0.0, 0.2}, {"<sil>", 0.2, 1.0}, {"um", 1.0, 1.16}, {"we", 1.16, 1.4}}),
            (Texts{"and", "we"}));
  EXPECT_EQ(heard({{"<s>", 0.0, 0.5}, {"um", 0.5, 0.85}, {"so", 0.85, 1.0}}), (Texts{"um", "so"}));
  EXPECT_EQ(heard({{"<s>", 0.0, 0.5}, {"um", 0.5, 0.68}, {"<sil>", 0.68, 0.8}, {"so", 0.8, 1.0}}), (Texts{"um", "so"}));
  EXPECT_EQ(heard({{"today", 0.0, 0.4}, {"<sil>", 0.4, 0.58}, {"um", 0.58, 0.74}, {"I", 0.74, 0.9}}),
            (Texts{"today", "um", "I"}));

  // A held sound the recognizer heard nothing in, starting where a word ends and short, is the
  // word's tail too; after a pause, or held long, it is a hesitation.
  const auto unheard = [](TimeRange held) {
    std::vector<TranscriptWord> words = {{"run", {0.0, 0.3}}, {"that", {1.2, 1.4}}};
    addUnheardHesitations(words, 0.0, 1.4, [&](double, double) { return std::optional<TimeRange>(held); });
    return texts(words);
  };
  EXPECT_EQ(unheard({0.3, 0.57}), (Texts{"run", "that"}));
  EXPECT_EQ(unheard({0.5, 0.8}), (Texts{"run", "uh", "that"}));
  EXPECT_EQ(unheard({0.3, 0.8}), (Texts{"run", "uh", "that"}));
}
