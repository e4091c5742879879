#include "kestrane/brain/Utterance.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "kestrane/brain/UnicodeText.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

using TextAlign::sameText;

bool endsWithAny(std::string_view text, std::initializer_list<std::string_view> endings) {
  return std::any_of(endings.begin(), endings.end(), [&](std::string_view e) { return text.ends_with(e); });
}

bool inTable(const std::vector<std::string>& table, std::string_view token) {
  return std::any_of(table.begin(), table.end(), [&](const std::string& t) { return sameText(t, token); });
}

Utterance makeUtterance(int index, std::vector<TranscriptWord> words) {
  Utterance u;
  u.index = index;
  u.tokens = TextAlign::tokens(joinedText(words));
  u.range = {words.front().range.start, words.back().range.end};
  u.words = std::move(words);
  return u;
}

// Whether some splitter silence lies between the previous word and w. The
// spans are sorted by start and each ends after it starts, so only spans
// starting in [previousEnd - 0.1, wEnd + 0.1] can qualify.
bool silenceSplits(const std::vector<TimeRange>& spans, double previousEnd, double wEnd) {
  const double from = previousEnd - 0.1, to = wEnd + 0.1;
  auto it = std::lower_bound(spans.begin(), spans.end(), from,
                             [](const TimeRange& s, double value) { return s.start < value; });
  for (; it != spans.end() && it->start <= to; ++it)
    if (it->end <= to) return true;
  return false;
}

// First-four-character equality under canonical equivalence.
bool sameHead(std::string_view a, std::string_view b) {
  auto ca = UnicodeText::nfc(a), cb = UnicodeText::nfc(b);
  auto ga = UnicodeText::graphemes(ca), gb = UnicodeText::graphemes(cb);
  if (ga.size() < 4 || gb.size() < 4) return false;
  for (std::size_t k = 0; k < 4; ++k)
    if (ga[k] != gb[k]) return false;
  return true;
}

// Views of the tokens in NFC, so equal tokens compare as equal bytes.
class CanonicalTokens {
 public:
  explicit CanonicalTokens(Tokens tokens) {
    views_.reserve(tokens.size());
    std::size_t odd = 0;
    for (const auto& t : tokens)
      if (!UnicodeText::isPlainAscii(t)) ++odd;
    storage_.reserve(odd);
    for (const auto& t : tokens) {
      if (UnicodeText::isPlainAscii(t)) {
        views_.emplace_back(t);
      } else {
        storage_.push_back(UnicodeText::nfc(t));
        views_.emplace_back(storage_.back());
      }
    }
  }
  std::string_view operator[](std::size_t k) const { return views_[k]; }

 private:
  std::vector<std::string> storage_;  // reserved up front: views stay valid
  std::vector<std::string_view> views_;
};

}  // namespace

std::string joinedText(std::span<const TranscriptWord> words) {
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (k > 0) text += ' ';
    text += words[k].text;
  }
  return text;
}

bool endsCleanly(const Utterance& utterance) {
  return utterance.endsLikeSentence() && !endsMidRestart(utterance.tokens);
}

bool isFinished(const Utterance& utterance) {
  return endsCleanly(utterance) && internalRestarts(utterance.tokens).empty();
}

bool Utterance::endsLikeSentence() const {
  if (words.empty()) return false;
  if (tokens.size() >= 6 && isTrailingConjunction(tokens.back())) return false;
  return endsWithAny(words.back().text, {".", "?", "!"});
}

const std::vector<std::string>& fillerTokens() {
  static const std::vector<std::string> table{"um", "uh", "uhm", "erm", "hmm", "mmm"};
  return table;
}

const std::vector<std::string>& trailingConjunctions() {
  static const std::vector<std::string> table{"and", "but", "so", "or", "because", "cause"};
  return table;
}

const std::vector<TokenList>& slatePhrases() {
  static const std::vector<TokenList> table{
      {"let", "me", "try", "that", "again"},
      {"let", "me", "do", "that", "again"},
      {"let", "me", "try", "again"},
      {"let", "me", "start", "over"},
      {"one", "more", "time"},
      {"scratch", "that"},
      {"from", "the", "top"},
      {"take", "two"},
      {"take", "three"},
      {"start", "over"},
      {"try", "that", "again"},
  };
  return table;
}

bool isFillerToken(std::string_view token) { return inTable(fillerTokens(), token); }

bool isTrailingConjunction(std::string_view token) { return inTable(trailingConjunctions(), token); }

std::vector<Utterance> utterances(const Transcript& transcript, std::span<const SilenceSpan> silences) {
  std::vector<Utterance> result;
  const auto& words = transcript.words;
  if (words.empty()) return result;

  std::vector<TimeRange> splitters;
  for (const auto& s : silences)
    if (s.range.end - s.range.start >= kSplitterMinSilence) splitters.push_back(s.range);
  std::stable_sort(splitters.begin(), splitters.end(),
                   [](const TimeRange& x, const TimeRange& y) { return x.start < y.start; });

  auto emitChunk = [&](std::size_t from, std::size_t to) {
    std::span<const TranscriptWord> chunk(words.data() + from, to - from);
    for (auto& piece : splitAtInternalRestarts(chunk))
      result.push_back(makeUtterance(static_cast<int>(result.size()), std::move(piece)));
  };

  std::size_t chunkStart = 0;
  for (std::size_t k = 1; k < words.size(); ++k) {
    if (k % 4096 == 0) checkpoint();
    const auto& previous = words[k - 1].range;
    const auto& w = words[k].range;
    if (silenceSplits(splitters, previous.end, w.end) || w.start - previous.end >= kSplitterMinSilence) {
      emitChunk(chunkStart, k);
      chunkStart = k;
    }
  }
  emitChunk(chunkStart, words.size());
  return result;
}

std::vector<std::vector<TranscriptWord>> splitAtInternalRestarts(std::span<const TranscriptWord> chunk) {
  TokenList tokens;
  std::vector<int> wordOf;
  std::vector<bool> sentenceEnds;
  for (std::size_t w = 0; w < chunk.size(); ++w) {
    auto wordTokens = TextAlign::tokens(chunk[w].text);
    bool endsSentence = endsWithAny(chunk[w].text, {".", "?", "!", "\u2026"});
    for (std::size_t t = 0; t < wordTokens.size(); ++t) {
      tokens.push_back(std::move(wordTokens[t]));
      wordOf.push_back(static_cast<int>(w));
      sentenceEnds.push_back(endsSentence && t + 1 == wordTokens.size());
    }
  }
  std::vector<std::vector<TranscriptWord>> pieces;
  auto emit = [&](std::size_t from, std::size_t to) { pieces.emplace_back(chunk.begin() + from, chunk.begin() + to); };
  if (tokens.size() < 4) {
    if (!chunk.empty()) emit(0, chunk.size());
    return pieces;
  }
  std::size_t start = 0;
  for (int r : internalRestarts(tokens, sentenceEnds)) {
    auto w = static_cast<std::size_t>(wordOf[static_cast<std::size_t>(r)]);
    if (start < w && w < chunk.size()) {
      emit(start, w);
      start = w;
    }
  }
  emit(start, chunk.size());
  return pieces;
}

std::vector<int> internalRestarts(Tokens tokens, const std::vector<bool>& sentenceEnds) {
  std::vector<int> result;
  const int n = static_cast<int>(tokens.size());
  if (n < 4) return result;
  CanonicalTokens t(tokens);
  auto at = [&](int k) { return t[static_cast<std::size_t>(k)]; };
  auto sameText = [](std::string_view a, std::string_view b) { return a == b; };
  auto flag = [&](int k) {
    return k >= 0 && k < static_cast<int>(sentenceEnds.size()) && sentenceEnds[static_cast<std::size_t>(k)];
  };

  int s = 0;
  while (s != n - 3) {
    // Every candidate for i is at least i + 2, so the scan stops as soon as
    // no smaller candidate than the best so far can turn up.
    int best = n;  // none
    for (int i = s; i <= n - 4 && i + 2 < best; ++i) {
      if (sameText(at(i), at(i + 2)) && sameText(at(i + 1), at(i + 3))) {
        best = i + 2;
        break;  // i + 2 is the smallest possible for this i and all later ones
      }
      if (i > n - 6) continue;
      for (int k = i + 3; k <= n - 3 && k < best; ++k) {
        if (!sameText(at(k), at(i))) continue;
        bool second = sameText(at(k + 1), at(i + 1));
        bool third = sameText(at(k + 2), at(i + 2));
        if (!second && !third) continue;
        if (i == s || (second && third && k < i + 9) || flag(k - 1)) {
          best = k;
          break;
        }
      }
    }
    if (best == n) break;
    result.push_back(best);
    if (best >= n - 3) break;
    s = best;
  }
  return result;
}

bool endsMidRestart(Tokens t) {
  const std::size_t n = t.size();
  if (n < 8) return false;
  for (int r : internalRestarts(t)) {
    auto ur = static_cast<std::size_t>(r);
    if (ur + 1 < n && sameText(t[ur], t[n - 2]) && sameText(t[ur + 1], t[n - 1])) return true;
  }
  return false;
}

std::vector<TokenList> scriptBeats(std::string_view script) {
  std::vector<TokenList> beats;
  // A script that says its lines over and over is tokenized once per distinct line.
  std::unordered_map<std::string_view, TokenList> seen;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= script.size(); ++k) {
    if (k < script.size() && script[k] != '.' && script[k] != '!' && script[k] != '?' && script[k] != '\n') continue;
    const std::string_view piece = script.substr(start, k - start);
    start = k + 1;
    auto found = seen.find(piece);
    if (found == seen.end()) found = seen.emplace(piece, TextAlign::tokens(piece)).first;
    if (found->second.size() > 2) beats.push_back(found->second);
  }
  return beats;
}

bool sharesOpening(Tokens a, Tokens b) {
  if (a.size() < 2 || b.size() < 2) return false;
  bool first = sameText(a[0], b[0]), second = sameText(a[1], b[1]);
  if (first && second) return true;
  if (a.size() == 2 || b.size() == 2) return false;
  int equal = int(first) + int(second) + int(sameText(a[2], b[2]));
  return equal >= 2;
}

double openingPrefixSimilarity(Tokens a, Tokens b) {
  std::size_t m = std::min(a.size(), b.size());
  return TextAlign::localAlign(a.first(m), b.first(m), -1.0).score;
}

double openingPrefixSimilarity(const Utterance& a, const Utterance& b) {
  return openingPrefixSimilarity(a.tokens, b.tokens);
}

double openingAwareSimilarity(Tokens a, Tokens b) {
  double s = std::max(TextAlign::localAlign(a, b, -1.0).score, TextAlign::jaccard(a, b, 3));
  if (sharesOpening(a, b)) s = std::max(s, openingPrefixSimilarity(a, b)) + 0.1;
  return std::min(s, 1.0);
}

double retakeSimilarity(const Utterance& a, const Utterance& b) {
  double s = std::max(TextAlign::localAlign(a.tokens, b.tokens, -1.0).score, TextAlign::jaccard(a.tokens, b.tokens, 3));
  if (isFinished(a) && isFinished(b)) return s;
  if (sharesOpening(a.tokens, b.tokens)) return std::min(1.0, std::max(s, openingPrefixSimilarity(a, b)) + 0.1);
  return s;
}

bool containsPayoff(const Utterance& utterance, std::string_view payoff) {
  const int payoffLength = TextAlign::characterCount(payoff);
  for (const auto& t : utterance.tokens) {
    if (sameText(t, payoff)) return true;
    const int length = TextAlign::characterCount(t);
    if (length > 3 && payoffLength > 3 && sameHead(t, payoff)) return true;
    if (length >= 3 && length != payoffLength && TextAlign::editDistance(t, payoff) <= 1) return true;
  }
  return false;
}

int openingRun(Tokens a, Tokens b) {
  if (a.empty() || b.empty()) return 0;
  auto common = [](Tokens x, Tokens y) {
    std::size_t k = 0;
    while (k < x.size() && k < y.size() && sameText(x[k], y[k])) ++k;
    return static_cast<int>(k);
  };
  return std::max({common(a, b), common(a, b.subspan(1)), common(a.subspan(1), b), common(a.subspan(1), b.subspan(1))});
}

bool isSlate(Tokens tokens) {
  if (tokens.size() > 10) return false;
  for (const auto& phrase : slatePhrases()) {
    if (phrase.size() > tokens.size()) continue;
    for (std::size_t start = 0; start + phrase.size() <= tokens.size(); ++start) {
      bool match = true;
      for (std::size_t k = 0; k < phrase.size() && match; ++k) match = sameText(tokens[start + k], phrase[k]);
      if (match) return true;
    }
  }
  return false;
}

}  // namespace kestrane::TakeSelector
