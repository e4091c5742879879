#include "kestrane/transcribe/RecognizedWords.hpp"

#include <cctype>
#include <set>

namespace kestrane::RecognizedWords {

namespace {

// Gap (seconds) under which a hesitation counts as glued to the word before it.
constexpr double kGlued = 0.02;

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
    return open.count(word) > 0 || isHesitation(word);
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

std::vector<TranscriptWord> wordsFromTokens(const std::vector<TimedToken>& tokens) {
    std::vector<TranscriptWord> words;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const TimedToken& t = tokens[i];
        if (isMarker(t.text)) continue;
        const std::string text = withoutVariant(t.text);
        if (text.empty()) continue;
        if (isHesitation(text) && i > 0 && !isMarker(tokens[i - 1].text)) {
            const bool glued = t.start - tokens[i - 1].end < kGlued;
            const bool pauseAfter = i + 1 == tokens.size() || isMarker(tokens[i + 1].text);
            if (glued && pauseAfter) continue;
        }
        words.push_back({text, {t.start, t.end}});
    }
    return words;
}

void markSentenceEnds(std::vector<TranscriptWord>& words, double pause) {
    bool capitalise = true;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string& text = words[i].text;
        if (capitalise && !text.empty() && std::islower(static_cast<unsigned char>(text[0])))
            text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        capitalise = false;
        const bool last = i + 1 == words.size();
        const bool paused = last || words[i + 1].range.start - words[i].range.end >= pause;
        std::string lower = text;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (paused && !leavesSentenceOpen(lower)) {
            text += '.';
            capitalise = true;
        }
    }
}

}  // namespace kestrane::RecognizedWords
