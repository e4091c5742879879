#include "kestrane/transcribe/RecognizedWords.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>
#include <string_view>

namespace kestrane::RecognizedWords {

namespace {

// Gap (seconds) under which a hesitation counts as glued to the word before it.
constexpr double kGlued = 0.02;
// A spoken hesitation is a sustained sound; anything shorter is a piece of a real word the
// recognizer split off, most often the article "a" (the same vowel as "uh").
constexpr double kShortestHesitation = 0.12;

// Short words the recognizer writes for a drawn-out "uhhh" or "ummm"; the value says whether
// the word ends in a nasal, which is what separates "um" from "uh".
const std::map<std::string, bool>& hesitationLookalikes() {
  static const std::map<std::string, bool> words = {
      {"a", false},   {"uh", false}, {"ah", false}, {"er", false}, {"oh", false}, {"are", false},
      {"her", false}, {"um", true},  {"hmm", true}, {"mm", true},  {"in", true},  {"an", true},
      {"on", true},   {"am", true},  {"and", true}, {"i'm", true}, {"man", true}, {"them", true}};
  return words;
}

// Seconds from which a hesitation the recognizer wrote as such, or a run of them with no gap
// between, is one held sound.
constexpr double kHeldWord = 0.3;
constexpr double kHeldRun = 0.35;
constexpr double kHeldNoise = 0.25;
// A real word becomes a hesitation only on strong evidence: held at least this long (these words
// take 0.05–0.2 s, and a slow reader still stays under 0.4 s) with a pause of at least
// kHesitationPause on one side. A word held inside a fluent run is a slow word, not a filler.
constexpr double kHeldRealWord = 0.45;
constexpr double kHesitationPause = 0.1;
// A one-syllable word held this long with one steady sound is a hesitation (see
// markHeldHesitations). Shorter, a slow reader's "lens" or "then" passes the steadiness test too.
constexpr double kHeldAnyWord = 0.45;
// A shorter hesitation glued to words on both sides is a piece of them.
constexpr double kGluedPiece = 0.25;
// Hesitations closer than this are one; a gap between words this long may hide one.
constexpr double kHesitationGap = 0.3;
// A held sound longer than this is not a hesitation (a music bed's note, a hum).
constexpr double kLongestUnheard = 1.2;

// Vowel groups in the spelling: near enough to syllables to tell "charm" from "audio".
std::size_t vowelGroups(const std::string& word) {
  std::size_t groups = 0;
  bool inVowel = false;
  for (char c : word) {
    const bool vowel = std::string_view("aeiouy").find(
                           static_cast<char>(std::tolower(static_cast<unsigned char>(c)))) != std::string_view::npos;
    if (vowel && !inVowel) ++groups;
    inVowel = vowel;
  }
  return groups;
}

// A held vowel, hum or "er" ends in one of these; a word ending in a hiss or a stop ("hours",
// "lights") is a word, however slowly read.
bool endsLikeHeldSound(const std::string& word) {
  return !word.empty() && std::string_view("mnrhaeiouy").find(word.back()) != std::string_view::npos;
}

bool endsInNasal(const std::string& word) { return !word.empty() && (word.back() == 'm' || word.back() == 'n'); }

bool leavesSentenceOpen(const std::string& word) {
  static const std::set<std::string> open = {
      // conjunctions
      "and", "but", "or", "nor", "so", "yet", "because", "if", "although", "whereas", "unless", "while", "whether",
      "than", "cause",
      // articles
      "a", "an", "the",
      // prepositions
      "of", "to", "in", "on", "at", "for", "with", "from", "by", "about", "into", "onto", "over", "under", "through",
      "between", "during", "without", "within", "across", "toward", "towards", "upon", "among", "against", "via", "per",
      "like"};
  return open.count(word) > 0;
}

// The last of the hesitations heard one after another from `first` on, with no pause between.
std::size_t hesitationRunEnd(const std::vector<TimedToken>& tokens, std::size_t first) {
  std::size_t last = first;
  for (std::size_t j = first + 1; j < tokens.size() && tokens[j].start - tokens[last].end < kGlued; ++j) {
    if (isMarker(tokens[j].text)) continue;
    if (!isHesitation(withoutVariant(tokens[j].text))) break;
    last = j;
  }
  return last;
}

// A short hesitation that opens a sentence and runs straight into a word is that word's first
// sound heard apart ("come down" heard as "um down"); a filler is held, or leaves a gap before
// the word. Inside a sentence a short one glued to the next word is a filler often enough
// ("today, um, I want") that it stays one there.
bool isWordOnset(const std::vector<TimedToken>& tokens, std::size_t first, std::size_t last) {
  if (last + 1 >= tokens.size() || tokens[last].end - tokens[first].start >= kHeldWord - 0.001) return false;
  for (std::size_t p = first; p-- > 0;) {
    if (isMarker(tokens[p].text)) continue;
    if (tokens[first].start - tokens[p].end < kSentencePause) return false;
    break;
  }
  const TimedToken& next = tokens[last + 1];
  return !isMarker(next.text) && !isHesitation(withoutVariant(next.text)) && next.start - tokens[last].end < kGlued;
}

}  // namespace

bool isWordTail(const std::vector<TranscriptWord>& words, const std::string& hesitation, double start, double end) {
  // Times are whole 10 ms frames; the margin keeps a 0.3 s token held whatever its rounding.
  if (words.empty() || end - start >= kHeldWord - 0.001 || start - words.back().range.end >= kGlued) return false;
  const std::string& word = words.back().text;
  if (word.empty() || isHesitation(word)) return false;
  // After a word ending in "r" it is more likely a held "erm" heard in two ("her um", "or um").
  if (word.back() == 'r') return false;
  // Speakers stop to think after "the", "and", "to": there it is a hesitation, unless it is the
  // hum of the word's own closing nasal ("from um").
  return !leavesSentenceOpen(word) || (hesitation == "um" && endsInNasal(word));
}

bool isMarker(const std::string& token) {
  if (token.empty()) return true;
  const char first = token.front();
  return first == '<' || first == '[' || (token.size() > 1 && token[0] == '+' && token[1] == '+');
}

std::string withoutVariant(const std::string& token) {
  const auto open = token.find('(');
  if (open != std::string::npos && open > 0 && token.back() == ')') return token.substr(0, open);
  return token;
}

bool isHesitation(const std::string& word) {
  static const std::set<std::string> hesitations = {"um", "uh", "umm", "uhm", "er", "erm", "ah", "hmm", "mm"};
  return hesitations.count(word) > 0;
}

std::string fillerSpelling(const std::string& word) {
  if (word == "er") return "erm";
  if (word == "mm") return "mmm";
  if (word == "umm") return "um";
  return word;
}

std::vector<TranscriptWord> wordsFromTokens(const std::vector<TimedToken>& tokens, const HeldTest& isHeld) {
  std::vector<TranscriptWord> words;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const TimedToken& t = tokens[i];
    if (t.text == "[SPEECH]" && isHeld && t.end - t.start >= kHeldNoise && isHeld(t.start, t.end)) {
      words.push_back({"uh", {t.start, t.end}});
      continue;
    }
    if (isMarker(t.text)) continue;
    std::string text = withoutVariant(t.text);
    if (text.empty()) continue;
    if (isHesitation(text) && t.end - t.start < kShortestHesitation) {
      // "uh um" is one hesitation heard in two pieces, not the article and a hesitation.
      const bool wordFollows =
          i + 1 < tokens.size() && !isMarker(tokens[i + 1].text) && !isHesitation(withoutVariant(tokens[i + 1].text));
      if (text != "uh" || !wordFollows) continue;
      text = "a";
    } else if (isHesitation(text)) {
      if (const std::size_t last = hesitationRunEnd(tokens, i);
          isWordTail(words, text, tokens[i].start, tokens[last].end) || isWordOnset(tokens, i, last)) {
        i = last;
        continue;
      }
      if (i > 0 && !isMarker(tokens[i - 1].text)) {
        const bool glued = t.start - tokens[i - 1].end < kGlued;
        const bool pauseAfter = i + 1 == tokens.size() || isMarker(tokens[i + 1].text);
        // A word's release is a vowel, or a hum only after a word that ends in a nasal ("them");
        // "the um" is a hesitation after a word.
        const std::string before = withoutVariant(tokens[i - 1].text);
        const bool release = text != "um" || endsInNasal(before);
        if (glued && pauseAfter && release) continue;
        // Glued to words on both sides and short, it is a piece of them ("um" from "room").
        const bool gluedAfter =
            i + 1 < tokens.size() && !isMarker(tokens[i + 1].text) && tokens[i + 1].start - t.end < kGlued;
        if (glued && gluedAfter && t.end - t.start < kGluedPiece) continue;
      }
    }
    words.push_back({fillerSpelling(text), {t.start, t.end}});
  }
  return words;
}

void markHeldHesitations(std::vector<TranscriptWord>& words, const HeldTest& isHeld) {
  const auto& lookalikes = hesitationLookalikes();
  std::vector<TranscriptWord> out;
  out.reserve(words.size());
  for (std::size_t i = 0; i < words.size();) {
    std::size_t j = i;
    while (j < words.size() && lookalikes.count(words[j].text) &&
           (j == i || words[j].range.start - words[j - 1].range.end < kGlued))
      ++j;
    if (j == i) {
      const TranscriptWord& w = words[i];
      const double span = w.range.end - w.range.start;
      // The last word before a pause is drawn out by every reader; it stays a word.
      const bool wordFollows = i + 1 < words.size() && words[i + 1].range.start - w.range.end < kSentencePause;
      if (!isHesitation(w.text) && isHeld && wordFollows && span >= kHeldAnyWord && vowelGroups(w.text) <= 1 &&
          endsLikeHeldSound(w.text) && isHeld(w.range.start, w.range.end))
        out.push_back({endsInNasal(w.text) ? "um" : "uh", w.range});
      else out.push_back(w);
      ++i;
      continue;
    }
    const double start = words[i].range.start, end = words[j - 1].range.end;
    const double span = end - start;
    const bool realWord =
        std::any_of(words.begin() + static_cast<std::ptrdiff_t>(i), words.begin() + static_cast<std::ptrdiff_t>(j),
                    [](const TranscriptWord& w) { return !isHesitation(w.text); });
    bool longEnough = (j - i == 1) ? span >= kHeldWord : span >= kHeldRun;
    if (realWord) {
      // A chunk's first and last words border the pauses the chunks were cut at.
      const bool pauseBefore = i == 0 || start - words[i - 1].range.end >= kHesitationPause;
      const bool pauseAfter = j == words.size() || words[j].range.start - end >= kHesitationPause;
      longEnough = span >= kHeldRealWord && (pauseBefore || pauseAfter);
    }
    const bool held = longEnough && (!isHeld || isHeld(start, end));
    if (held) {
      out.push_back({lookalikes.at(words[j - 1].text) ? "um" : "uh", {start, end}});
    } else {
      out.insert(out.end(), words.begin() + static_cast<std::ptrdiff_t>(i),
                 words.begin() + static_cast<std::ptrdiff_t>(j));
    }
    i = j;
  }
  // Hesitations one after another are one held sound heard in pieces ("uh um").
  words.clear();
  for (auto& w : out) {
    if (!words.empty() && isHesitation(w.text) && isHesitation(words.back().text) &&
        w.range.start - words.back().range.end < kHesitationGap) {
      words.back().text = w.text;
      words.back().range.end = w.range.end;
      continue;
    }
    words.push_back(std::move(w));
  }
}

void addUnheardHesitations(std::vector<TranscriptWord>& words, double from, double to, const HeldFinder& find) {
  if (!find) return;
  std::vector<TranscriptWord> out;
  const auto look = [&](double start, double end) {
    if (end - start < kHesitationGap) return;
    auto held = find(start, end);
    if (!held) return;
    // Within the gap whatever the rounding of the finder's samples to seconds.
    held = TimeRange{std::max(held->start, start), std::min(held->end, end)};
    if (held->end <= held->start || held->end - held->start > kLongestUnheard ||
        isWordTail(out, "uh", held->start, held->end))
      return;
    out.push_back({"uh", *held});
  };
  double heardTo = from;
  for (auto& w : words) {
    look(heardTo, w.range.start);
    heardTo = std::max(heardTo, w.range.end);
    out.push_back(std::move(w));
  }
  look(heardTo, to);
  words = std::move(out);
}

void markSentenceEnds(std::vector<TranscriptWord>& words, double pause) {
  bool capitalise = true;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string& text = words[i].text;
    if (capitalise && !text.empty() && std::islower(static_cast<unsigned char>(text[0])))
      text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    capitalise = false;
    const double gap = i + 1 == words.size() ? INFINITY : words[i + 1].range.start - words[i].range.end;
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool ends = gap >= pause && !isHesitation(lower) && (gap >= kLinePause || !leavesSentenceOpen(lower));
    if (ends) {
      text += '.';
      capitalise = true;
    }
  }
}

}  // namespace kestrane::RecognizedWords
