#include "kestrane/brain/TakeScoring.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <stdexcept>

#include "kestrane/brain/RunSelector.hpp"
#include "kestrane/brain/TextAlignDetail.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

// Silences strictly inside the utterance, 0.2 s in from either end.
int innerPauses(const Utterance& u, std::span<const SilenceSpan> silences) {
  // Every silence of the recording is passed over for each line asked about.
  checkpoint();
  int count = 0;
  for (const auto& s : silences)
    if (s.range.start > u.range.start + 0.2 && s.range.end < u.range.end - 0.2) ++count;
  return count;
}

int positionOf(const Utterance& u, std::span<const Utterance> members) {
  for (std::size_t k = 0; k < members.size(); ++k)
    if (members[k].index == u.index) return static_cast<int>(k) + 1;
  return 1;
}

// The largest part any beat has in a measure; an empty beat has none.
template <typename Part>
double bestOverBeats(Tokens tokens, const std::vector<TokenList>& beats, Part part) {
  if (tokens.empty() || beats.empty()) return 0;
  double best = 0;
  TextAlign::detail::Aligner aligner(tokens);
  for (const auto& beat : beats)
    if (!beat.empty()) best = std::max(best, part(aligner.align(beat, -1.0), beat.size()));
  return best;
}

}  // namespace

double beatMatchCoverage(const TextAlign::LocalAlignment& alignment, std::size_t tokenCount) {
  return alignment.score >= 0.5 ? static_cast<double>(alignment.aRange.count()) / static_cast<double>(tokenCount) : 0.0;
}

double beatRenditionScore(const TextAlign::LocalAlignment& alignment, std::size_t beatTokenCount) {
  return alignment.score * (static_cast<double>(alignment.bRange.count()) / static_cast<double>(beatTokenCount));
}

double scriptMatchCoverage(Tokens tokens, const std::vector<TokenList>& beats) {
  return bestOverBeats(tokens, beats, [&](const TextAlign::LocalAlignment& alignment, std::size_t) {
    return beatMatchCoverage(alignment, tokens.size());
  });
}

double scriptRenditionScore(Tokens tokens, const std::vector<TokenList>& beats) {
  return bestOverBeats(tokens, beats, beatRenditionScore);
}

double scriptMatchCoverage(Tokens tokens, const PreparedScript& script) { return script.matchCoverage(tokens); }

double scriptRenditionScore(Tokens tokens, const PreparedScript& script) { return script.renditionScore(tokens); }

int disfluencyCount(const Utterance& utterance) {
  const auto& t = utterance.tokens;
  int count = 0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i)
    if (TextAlign::sameText(t[i], t[i + 1])) ++count;
  for (const auto& token : t)
    if (isFillerToken(token)) ++count;
  return count;
}

double restartPenalty(Tokens tokens) {
  double penalty = 0;
  for (int p : internalRestarts(tokens)) penalty += p < 7 ? 0.3 : 1.0;
  return std::min(penalty, 2.0);
}

double pausePenalty(const Utterance& utterance, std::span<const SilenceSpan> silences) {
  int count = innerPauses(utterance, silences);
  if (count <= 1) return 0;
  return std::min(0.4 * (count - 1), 2.0);
}

namespace {

using QualityOf = std::function<double(const Utterance&, int maxTokens)>;

Utterance pickWinnerWith(std::span<const Utterance> members, bool scripted, std::span<const SilenceSpan> silences,
                         ScoreMap* scoresOut, const QualityOf& quality) {
  if (members.empty()) throw std::invalid_argument("a take group needs at least one member");
  std::size_t maxTokens = 0;
  for (const auto& m : members) maxTokens = std::max(maxTokens, m.tokens.size());
  const double d = static_cast<double>(std::max<std::size_t>(members.size(), 2) - 1);

  ScoreMap scores;
  double best = -std::numeric_limits<double>::infinity();
  std::size_t winner = 0;
  for (std::size_t k = 0; k < members.size(); ++k) {
    double total = quality(members[k], static_cast<int>(maxTokens)) + 0.5 * static_cast<double>(k) / d;
    scores[members[k].index] = total;
    if (total >= best) {  // a later rendition wins a tie
      best = total;
      winner = k;
    }
  }
  if (scoresOut) *scoresOut = scores;
  if (scripted) return members[winner];
  if (auto complete = completeRendition(members[winner], members, silences, scores)) return *complete;
  return members[winner];
}

}  // namespace

Utterance pickWinner(std::span<const Utterance> members, const std::vector<TokenList>& scriptSentences,
                     std::span<const SilenceSpan> silences, ScoreMap* scores) {
  return pickWinnerWith(members, !scriptSentences.empty(), silences, scores, [&](const Utterance& u, int maxTokens) {
    return RunSelector::quality(u, scriptSentences, silences, maxTokens);
  });
}

Utterance pickWinner(std::span<const Utterance> members, const PreparedScript& script,
                     std::span<const SilenceSpan> silences, ScoreMap* scores) {
  return pickWinnerWith(members, !script.empty(), silences, scores, [&](const Utterance& u, int maxTokens) {
    return RunSelector::quality(u, script, silences, maxTokens);
  });
}

std::optional<Utterance> completeRendition(const Utterance& chosen, std::span<const Utterance> members,
                                           std::span<const SilenceSpan> silences, const ScoreMap& scores) {
  if (members.size() < 2) return std::nullopt;
  const std::size_t b = chosen.tokens.size();
  const Utterance* best = nullptr;
  double bestScore = 0;

  for (const auto& m : members) {
    if (m.index == chosen.index) continue;
    const std::size_t count = m.tokens.size();
    if (b < 2 || count < b + 3 || static_cast<double>(count) < 1.5 * static_cast<double>(b)) continue;

    bool opens = TextAlign::detail::coversOpening(chosen.tokens, m.tokens);
    if (!opens) {
      auto whole = TextAlign::localAlign(chosen.tokens, m.tokens, -1.0);
      opens =
          whole.matchCount >= 0.8 * static_cast<double>(b) && openingAwareSimilarity(chosen.tokens, m.tokens) >= 0.5;
    }
    if (!opens) continue;
    if (!m.endsLikeSentence() || endsMidRestart(m.tokens) || !internalRestarts(m.tokens).empty()) continue;
    if (!silences.empty() && innerPauses(m, silences) > 2) continue;

    bool startOfAnother = std::any_of(members.begin(), members.end(), [&](const Utterance& o) {
      return o.index != m.index && TextAlign::isAbortedPrefix(m.tokens, o.tokens);
    });
    if (startOfAnother) continue;

    auto found = scores.find(m.index);
    double score = found == scores.end() ? 0 : found->second;
    if (!best || score > bestScore || (score == bestScore && m.range.start > best->range.start)) {
      best = &m;
      bestScore = score;
    }
  }
  if (!best) return std::nullopt;
  return *best;
}

std::string takeReason(const Utterance& member, std::span<const Utterance> members, const Utterance& winner) {
  return fmt::format("take {} of {}; kept take {}", positionOf(member, members), members.size(),
                     positionOf(winner, members));
}

std::string snippet(const Utterance& utterance) {
  std::string text = joinedText(std::span(utterance.words).first(std::min<std::size_t>(6, utterance.words.size())));
  if (utterance.words.size() > 6) text += "\u2026";
  return text;
}

namespace {

std::vector<TimeRange> chatterIslandsWith(std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                                          const std::function<double(Tokens)>& coverage) {
  std::vector<TimeRange> islands;
  std::vector<TimeRange> quietSpans;
  for (const auto& s : silences)
    if (s.range.end - s.range.start >= kSplitterMinSilence) quietSpans.push_back(s.range);
  if (quietSpans.empty() || words.empty()) return islands;

  // A midpoint is inside some span when, among the spans starting at or
  // before it, the furthest end lies beyond it.
  std::stable_sort(quietSpans.begin(), quietSpans.end(),
                   [](const TimeRange& x, const TimeRange& y) { return x.start < y.start; });
  std::vector<double> furthestEnd(quietSpans.size());
  for (std::size_t k = 0; k < quietSpans.size(); ++k)
    furthestEnd[k] = k == 0 ? quietSpans[k].end : std::max(furthestEnd[k - 1], quietSpans[k].end);
  auto isQuiet = [&](const TranscriptWord& w) {
    double mid = (w.range.start + w.range.end) * 0.5;
    auto after = std::upper_bound(quietSpans.begin(), quietSpans.end(), mid,
                                  [](double value, const TimeRange& s) { return value < s.start; });
    if (after == quietSpans.begin()) return false;
    return mid < furthestEnd[static_cast<std::size_t>(after - quietSpans.begin()) - 1];
  };

  struct RunOfWords {
    std::size_t first, last;  // inclusive word positions
    bool quiet;
    std::size_t size() const { return last - first + 1; }
  };
  std::vector<RunOfWords> runs;
  for (std::size_t k = 0; k < words.size(); ++k) {
    bool quiet = isQuiet(words[k]);
    if (!runs.empty() && runs.back().quiet == quiet) runs.back().last = k;
    else runs.push_back({k, k, quiet});
  }

  for (std::size_t i = 1; i + 1 < runs.size(); ++i) {
    const auto &before = runs[i - 1], &island = runs[i], &after = runs[i + 1];
    if (island.quiet || !before.quiet || !after.quiet) continue;
    if (before.size() < 3 || after.size() < 3) continue;
    if (words[island.first].range.start - words[before.last].range.end > 3.0) continue;
    if (words[after.first].range.start - words[island.last].range.end > 3.0) continue;
    TokenList tokens;
    for (std::size_t k = island.first; k <= island.last; ++k)
      for (auto& t : TextAlign::tokens(words[k].text)) tokens.push_back(std::move(t));
    if (tokens.size() < 2 || tokens.size() > 12) continue;
    if (coverage(tokens) >= 0.45) continue;
    islands.push_back({words[island.first].range.start, words[island.last].range.end});
  }
  return islands;
}

}  // namespace

std::vector<TimeRange> chatterIslands(std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                                      const std::vector<TokenList>& scriptSentences) {
  return chatterIslandsWith(words, silences, [&](Tokens t) { return scriptMatchCoverage(t, scriptSentences); });
}

std::vector<TimeRange> chatterIslands(std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                                      const PreparedScript& script) {
  return chatterIslandsWith(words, silences, [&](Tokens t) { return scriptMatchCoverage(t, script); });
}

std::optional<std::string> payoffToken(const Utterance& utterance) {
  for (auto it = utterance.tokens.rbegin(); it != utterance.tokens.rend(); ++it)
    if (TextAlign::characterCount(*it) >= 3 && !isTrailingConjunction(*it)) return *it;
  return std::nullopt;
}

}  // namespace kestrane::TakeSelector
