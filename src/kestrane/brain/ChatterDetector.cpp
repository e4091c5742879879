#include "kestrane/brain/ChatterDetector.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include <fmt/format.h>

#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::ChatterDetector {

namespace {

// Runs closer than this belong to one exchange.
constexpr double kSentenceGap = 1.5;
constexpr double kMaxClusterLength = 10.0;
constexpr double kQuietMargin = 6.0;
constexpr double kFloorShare = 0.35;
constexpr double kStoppageReach = 12.0;
constexpr double kLongSilence = 2.0;
constexpr double kScriptCoverageLimit = 0.45;

bool contains(const std::vector<std::string>& set, const std::string& word) {
  return std::find(set.begin(), set.end(), word) != set.end();
}

using TakeSelector::joinedText;

TokenList tokensOf(std::span<const TranscriptWord> words) { return TextAlign::tokens(joinedText(words)); }

bool endsSentence(std::string_view text) {
  static constexpr std::string_view ellipsis = "\u2026";
  if (text.empty()) return false;
  char last = text.back();
  if (last == '.' || last == '?' || last == '!') return true;
  return text.size() >= ellipsis.size() && text.substr(text.size() - ellipsis.size()) == ellipsis;
}

bool addressesAudience(const TokenList& tokens) {
  return std::any_of(tokens.begin(), tokens.end(),
                     [](const std::string& t) { return contains(audienceAddress(), foldedWord(t)); });
}

// One or two tokens, none addressed to the audience: a scrap of a sentence
// that belongs with the exchange beside it.
bool isScrap(std::span<const TranscriptWord> words) {
  auto tokens = tokensOf(words);
  return !tokens.empty() && tokens.size() <= 2 && !addressesAudience(tokens);
}

}  // namespace

std::string Cluster::reason() const {
  std::string joined;
  for (std::size_t k = 0; k < signals.size(); ++k) {
    if (k > 0) joined += ", ";
    joined += signals[k];
  }
  return "off-mic chatter \u2014 talking to the room, not the audience (" + joined + ")";
}

const std::vector<std::string>& acknowledgments() {
  static const std::vector<std::string> words{
      "yeah",  "yep",  "yup",    "yes",     "okay", "ok",    "alright", "right", "sure", "cool",  "perfect", "nice",
      "great", "good", "gotcha", "exactly", "mhm",  "mmhmm", "uhhuh",   "huh",   "oops", "sorry", "oh"};
  return words;
}

const std::vector<std::string>& audienceAddress() {
  static const std::vector<std::string> words{"you", "your", "youre", "yours", "yourself", "yourselves"};
  return words;
}

const std::vector<std::string>& trailingFillers() {
  static const std::vector<std::string> words{"like", "so", "um", "uh", "well", "yeah", "okay", "and", "oh"};
  return words;
}

std::string foldedWord(std::string_view token) {
  static constexpr std::string_view rightQuote = "\u2019";
  std::string folded;
  folded.reserve(token.size());
  for (std::size_t pos = 0; pos < token.size();) {
    if (token.substr(pos, rightQuote.size()) == rightQuote) {
      pos += rightQuote.size();  // an apostrophe, dropped
      continue;
    }
    char c = token[pos++];
    if (c == '\'' || c == '-') continue;
    folded += c;
  }
  return folded;
}

bool isConversational(const TokenList& tokens) {
  if (tokens.empty() || tokens.size() > 7) return false;
  if (addressesAudience(tokens)) return false;
  return std::any_of(tokens.begin(), tokens.end(),
                     [](const std::string& t) { return contains(acknowledgments(), foldedWord(t)); });
}

std::optional<std::vector<float>> wordLevels(std::span<const TranscriptWord> words,
                                             const std::optional<LevelData>& levels) {
  if (!levels || !(levels->hopDuration > 0)) return std::nullopt;
  const std::vector<float> values = levels->levelsDBFS();
  if (values.empty()) return std::nullopt;
  const double hop = levels->hopDuration;
  const double count = static_cast<double>(values.size());
  // Hop numbers are clamped as reals first, so huge or odd times cannot overflow.
  auto hopIndex = [&](double seconds) {
    double h = std::trunc(seconds / hop);
    if (!(h > 0)) return 0.0;  // also NaN
    return std::min(h, count);
  };
  std::vector<float> result;
  result.reserve(words.size());
  for (std::size_t k = 0; k < words.size(); ++k) {
    if ((k + 1) % 4096 == 0) checkpoint();
    const TranscriptWord& word = words[k];
    auto first = static_cast<std::size_t>(hopIndex(word.range.start));
    auto last = static_cast<std::size_t>(std::min(count, hopIndex(word.range.end) + 1));
    if (first >= last) {
      result.push_back(-100.0f);
      continue;
    }
    result.push_back(*std::max_element(values.begin() + static_cast<std::ptrdiff_t>(first),
                                       values.begin() + static_cast<std::ptrdiff_t>(last)));
  }
  return result;
}

double quantile(std::vector<float> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  double pos = q * static_cast<double>(n - 1);
  double whole = std::clamp(std::trunc(pos), 0.0, static_cast<double>(n - 1));
  auto lo = static_cast<std::size_t>(whole);
  std::size_t hi = std::min(n - 1, lo + 1);
  double low = values[lo];
  return low + (pos - whole) * (static_cast<double>(values[hi]) - low);
}

std::vector<std::vector<TranscriptWord>> sentences(std::span<const TranscriptWord> words) {
  std::vector<std::vector<TranscriptWord>> result;
  std::vector<TranscriptWord> current;
  for (const auto& word : words) {
    current.push_back(word);
    if (endsSentence(word.text)) {
      result.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) result.push_back(std::move(current));
  return result;
}

namespace {

// coverage gives the script match coverage of a cluster's tokens; it is only
// asked when there is a script.
std::vector<Cluster> clustersWith(std::span<const Utterance> utterances, std::span<const SilenceSpan> silences,
                                  const std::optional<LevelData>& levels, bool hasScript,
                                  const std::function<double(TakeSelector::Tokens)>& coverage,
                                  std::span<const TimeRange> stoppages) {
  std::vector<TranscriptWord> allWords;
  for (const auto& u : utterances) allWords.insert(allWords.end(), u.words.begin(), u.words.end());

  // Word levels keyed by start time; the presenting baseline is their 60th percentile.
  std::map<double, float> levelAt;
  std::optional<double> baseline;
  if (auto perWord = wordLevels(allWords, levels)) {
    for (std::size_t k = 0; k < allWords.size(); ++k) {
      if ((k + 1) % 4096 == 0) checkpoint();
      levelAt[allWords[k].range.start] = (*perWord)[k];
    }
    checkpoint();
    baseline = quantile(*perWord, 0.6);
  }

  // Long recordings hold a great many sentences: the loops look at the stop as they go.
  std::vector<std::vector<TranscriptWord>> all;
  for (std::size_t k = 0; k < utterances.size(); ++k) {
    if (k % 1024 == 0) checkpoint();
    for (auto& s : sentences(utterances[k].words))
      if (!s.empty()) all.push_back(std::move(s));
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const auto& a, const auto& b) { return a.front().range.start < b.front().range.start; });
  if (all.empty()) return {};

  std::vector<TokenList> tokens;
  std::vector<bool> conversational;
  tokens.reserve(all.size());
  for (const auto& s : all) {
    if (tokens.size() % 1024 == 0) checkpoint();
    tokens.push_back(tokensOf(s));
    conversational.push_back(isConversational(tokens.back()));
  }

  std::vector<Cluster> result;
  std::size_t i = 0;
  while (i < all.size()) {
    if (!conversational[i]) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < all.size() && conversational[end] &&
           all[end].front().range.start - all[end - 1].back().range.end <= kSentenceGap)
      ++end;
    const std::size_t runStart = i;
    i = end;  // the sentence that broke the run is examined again

    std::vector<TranscriptWord> own;
    TokenList ownTokens;
    std::set<std::string> distinctAcks;
    for (std::size_t k = runStart; k < end; ++k) {
      own.insert(own.end(), all[k].begin(), all[k].end());
      for (const auto& t : tokens[k]) {
        auto folded = foldedWord(t);
        if (contains(acknowledgments(), folded)) distinctAcks.insert(folded);
      }
    }
    if (end - runStart < 3 || distinctAcks.size() < 2) continue;

    double start = own.front().range.start;
    double finish = own.back().range.end;

    // A scrap or trailing fillers just before, and a scrap just after, belong to the exchange.
    if (runStart > 0) {
      const auto& previous = all[runStart - 1];
      if (start - previous.back().range.end <= kSentenceGap) {
        if (isScrap(previous)) {
          start = previous.front().range.start;
        } else {
          for (std::size_t k = previous.size(); k-- > 0;) {
            auto wordTokens = TextAlign::tokens(previous[k].text);
            bool filler = !wordTokens.empty() && std::all_of(wordTokens.begin(), wordTokens.end(), [](const auto& t) {
              return contains(trailingFillers(), foldedWord(t));
            });
            if (!filler) break;
            start = previous[k].range.start;
          }
        }
      }
    }
    if (end < all.size() && isScrap(all[end]) && all[end].front().range.start - finish <= kSentenceGap) {
      finish = all[end].back().range.end;
      ++end;
      i = end;
    }

    const double length = finish - start;
    if (!(length > 0) || length > kMaxClusterLength) continue;
    const std::string text = joinedText(own);
    if (hasScript && coverage(TextAlign::tokens(text)) >= kScriptCoverageLimit) continue;

    std::vector<std::string> signals;
    if (baseline) {
      std::vector<float> ownLevels;
      for (const auto& w : own) ownLevels.push_back(levelAt[w.range.start]);
      double median = quantile(ownLevels, 0.5);
      if (median <= *baseline - kQuietMargin)
        signals.push_back(fmt::format("{:.0f} dB under the presenting baseline", *baseline - median));
    }
    double underFloor = 0;
    for (const auto& s : silences) underFloor += overlapLength(s.range, TimeRange{start, finish});
    if (underFloor / length >= kFloorShare) signals.emplace_back("mostly under the silence floor");
    bool besideStop = std::any_of(stoppages.begin(), stoppages.end(), [&](const TimeRange& r) {
      return r.start < finish + kStoppageReach && r.end > start - kStoppageReach;
    });
    if (!besideStop)
      besideStop = std::any_of(silences.begin(), silences.end(), [&](const SilenceSpan& s) {
        return s.range.duration() >= kLongSilence &&
               (std::fabs(s.range.end - start) <= kLongSilence || std::fabs(s.range.start - finish) <= kLongSilence);
      });
    if (besideStop) signals.emplace_back("beside a stopped take");

    if (signals.size() >= 2) result.push_back(Cluster{TimeRange{start, finish}, text, std::move(signals)});
  }
  return result;
}

}  // namespace

std::vector<Cluster> clusters(std::span<const Utterance> utterances, std::span<const SilenceSpan> silences,
                              const std::optional<LevelData>& levels, const std::vector<TokenList>& scriptSentences,
                              std::span<const TimeRange> stoppages) {
  return clustersWith(
      utterances, silences, levels, !scriptSentences.empty(),
      [&](TakeSelector::Tokens t) { return TakeSelector::scriptMatchCoverage(t, scriptSentences); }, stoppages);
}

std::vector<Cluster> clusters(std::span<const Utterance> utterances, std::span<const SilenceSpan> silences,
                              const std::optional<LevelData>& levels, const TakeSelector::PreparedScript& script,
                              std::span<const TimeRange> stoppages) {
  return clustersWith(
      utterances, silences, levels, !script.empty(),
      [&](TakeSelector::Tokens t) { return TakeSelector::scriptMatchCoverage(t, script); }, stoppages);
}

}  // namespace kestrane::ChatterDetector
