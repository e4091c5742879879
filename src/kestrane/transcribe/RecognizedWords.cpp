#include "kestrane/transcribe/RecognizedWords.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>

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
        {"a", false},  {"uh", false},  {"ah", false}, {"er", false}, {"oh", false}, {"are", false},
        {"her", false}, {"um", true},  {"hmm", true}, {"mm", true},  {"in", true},  {"an", true},
        {"on", true},  {"am", true},   {"and", true}, {"i'm", true}, {"man", true}, {"them", true}};
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

bool leavesSentenceOpen(const std::string& word) {
    static const std::set<std::string> open = {
        // conjunctions
        "and", "but", "or", "nor", "so", "yet", "because", "if", "although", "whereas", "unless",
        "while", "whether", "than", "cause",
        // articles
        "a", "an", "the",
        // prepositions
        "of", "to", "in", "on", "at", "for", "with", "from", "by", "about", "into", "onto", "over",
        "under", "through", "between", "during", "without", "within", "across", "toward",
        "towards", "upon", "among", "against", "via", "per", "like"};
    return open.count(word) > 0;
}

}  // namespace

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
            const bool wordFollows = i + 1 < tokens.size() && !isMarker(tokens[i + 1].text);
            if (text != "uh" || !wordFollows) continue;
            text = "a";
        } else if (isHesitation(text) && i > 0 && !isMarker(tokens[i - 1].text)) {
            const bool glued = t.start - tokens[i - 1].end < kGlued;
            const bool pauseAfter = i + 1 == tokens.size() || isMarker(tokens[i + 1].text);
            if (glued && pauseAfter) continue;
        }
        words.push_back({text, {t.start, t.end}});
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
            out.push_back(words[i++]);
            continue;
        }
        const double start = words[i].range.start, end = words[j - 1].range.end;
        const double span = end - start;
        const bool realWord = std::any_of(words.begin() + static_cast<std::ptrdiff_t>(i),
                                          words.begin() + static_cast<std::ptrdiff_t>(j),
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
            out.insert(out.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.begin() + static_cast<std::ptrdiff_t>(j));
        }
        i = j;
    }
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
