// Slates, false starts, stumbles, runs of lines, and the grouping of repeated
// takes with their winners.
#include <algorithm>
#include <map>
#include <numeric>
#include <set>

#include "kestrane/brain/DecisionState.hpp"
#include "kestrane/brain/RunSelector.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

constexpr int kStumbleLookahead = 4;
constexpr double kRunExemptSimilarity = 0.75;
constexpr int kGroupWindow = 16;        // positions compared ahead, this one included
constexpr double kGroupMaxGap = 180.0;  // seconds between two takes of a group
constexpr double kGroupMaxSpan = 90.0;  // seconds from a group's first start to its last end
constexpr double kSlateBonus = 0.1;
constexpr double kConfidentGroup = 0.72;
constexpr double kAlternateSimilarity = 0.8;
constexpr double kAlternateDuration = 0.6;
constexpr std::size_t kMaxAlternates = 2;

// Union-find whose roots are always the smallest member, so a root never
// changes identity except by becoming a child.
class Groups {
 public:
  explicit Groups(const DecisionState& state) : parent_(static_cast<std::size_t>(state.count())) {
    std::iota(parent_.begin(), parent_.end(), 0);
    for (const auto& u : state.utts) {
      first_.push_back(u.range.start);
      last_.push_back(u.range.end);
    }
  }

  int find(int k) {
    int root = k;
    while (parent_[static_cast<std::size_t>(root)] != root) root = parent_[static_cast<std::size_t>(root)];
    while (parent_[static_cast<std::size_t>(k)] != root) {
      int next = parent_[static_cast<std::size_t>(k)];
      parent_[static_cast<std::size_t>(k)] = root;
      k = next;
    }
    return root;
  }

  // Joins two groups unless the union would span more than maxSpan seconds.
  bool join(int ri, int rj, double maxSpan) {
    auto i = static_cast<std::size_t>(ri), j = static_cast<std::size_t>(rj);
    double first = std::min(first_[i], first_[j]);
    double last = std::max(last_[i], last_[j]);
    if (last - first > maxSpan) return false;
    auto low = static_cast<std::size_t>(std::min(ri, rj)), high = static_cast<std::size_t>(std::max(ri, rj));
    parent_[high] = static_cast<int>(low);
    first_[low] = first;
    last_[low] = last;
    return true;
  }

 private:
  std::vector<int> parent_;
  std::vector<double> first_, last_;  // per root: earliest member start, latest member end
};

std::vector<Utterance> utterancesAt(const DecisionState& state, const std::vector<int>& positions) {
  std::vector<Utterance> list;
  list.reserve(positions.size());
  for (int p : positions) list.push_back(state.at(p));
  return list;
}

}  // namespace

void removeVerbalSlates(DecisionState& state) {
  for (const auto& u : state.utts) {
    if (!isSlate(u.tokens)) continue;
    state.remove(u.index, SegmentKind::flub, "verbal slate: \u201c" + joinedText(u.words) + "\u201d");
    if (u.index >= 1) state.slateNeighbour[static_cast<std::size_t>(u.index - 1)] = true;
  }
}

void removeFalseStarts(DecisionState& state) {
  const int n = state.count();
  for (int i = 0; i + 1 < n; ++i) {
    if (i % 1024 == 0) checkpoint();
    if (state.isRemoved(i)) continue;
    int next = i + 1;
    while (next < n && state.isRemoved(next)) ++next;
    if (next >= n) return;
    if (TextAlign::isAbortedPrefix(state.at(i).tokens, state.at(next).tokens))
      state.remove(i, SegmentKind::flub, "false start (restarted in the next take)", {}, next);
  }
}

void removeStumbles(DecisionState& state) {
  const int n = state.count();
  for (int p = 0; p < n; ++p) {
    if (p % 1024 == 0) checkpoint();
    if (state.isRemoved(p)) continue;
    const Utterance& u = state.at(p);
    if (internalRestarts(u.tokens).empty()) continue;
    int retry = -1;
    for (int c = p + 1; c <= std::min(n - 1, p + kStumbleLookahead); ++c) {
      if (state.isRemoved(c)) continue;
      const Utterance& candidate = state.at(c);
      if (sharesOpening(u.tokens, candidate.tokens) && candidate.tokens.size() > u.tokens.size()) {
        retry = c;
        break;
      }
    }
    if (retry >= 0) state.remove(p, SegmentKind::flub, "stumbled fragment, re-attempted after", {}, retry);
    else if (!endsCleanly(u)) state.remove(p, SegmentKind::flub, "stumbled fragment, never finished");
  }
}

void removeRepeatedRuns(DecisionState& state) {
  std::set<int> available;
  for (int k = 0; k < state.count(); ++k)
    if (!state.isRemoved(k)) available.insert(k);
  auto choices = RunSelector::choose(state.utts, available, state.script, state.silences);
  std::map<int, std::int64_t> idOfGroup;
  for (const auto& choice : choices) {
    if (state.isRemoved(choice.loser)) continue;
    auto found = idOfGroup.find(choice.group);
    std::int64_t id;
    if (found != idOfGroup.end()) {
      id = found->second;
    } else {
      id = state.nextTakeId();
      idOfGroup.emplace(choice.group, id);
      state.result.takeGroups.push_back(TakeGroupInfo{id, state.at(choice.winner).range, std::nullopt});
    }
    state.remove(choice.loser, SegmentKind::retakeRejected, choice.reason, id, choice.winner);
    if (state.similarity.openingAware(choice.loser, choice.winner) >= kRunExemptSimilarity)
      state.payoffExempt[static_cast<std::size_t>(choice.loser)] = true;
  }
}

void chooseRepeatedTakes(DecisionState& state) {
  const int n = state.count();
  Groups groups(state);

  for (int i = 0; i < n; ++i) {
    if (i % 256 == 0) checkpoint();
    if (state.isRemoved(i)) continue;
    const Utterance& a = state.at(i);
    for (int j = i + 1; j < std::min(n, i + kGroupWindow); ++j) {
      if (state.isRemoved(j)) continue;
      const Utterance& b = state.at(j);
      if (b.range.start - a.range.end > kGroupMaxGap) break;
      if (a.tokens.size() < 3 || b.tokens.size() < 3) continue;
      if (!state.similarity.retakeAtLeast(i, j, kRetakeThreshold)) continue;
      const double s = state.similarity.retake(i, j);
      const double bonus = state.slateNeighbour[static_cast<std::size_t>(i)] ? kSlateBonus : 0.0;
      int ri = groups.find(i), rj = groups.find(j);
      if (ri != rj && !groups.join(ri, rj, kGroupMaxSpan)) continue;
      int r = groups.find(i);
      auto [entry, fresh] = state.groupScore.try_emplace(r, 0.0);
      entry->second = std::max(entry->second, s + bonus);
    }
  }

  std::map<int, std::vector<int>> members;
  for (int k = 0; k < n; ++k)
    if (!state.isRemoved(k)) members[groups.find(k)].push_back(k);

  for (const auto& [root, positions] : members) {
    checkpoint();
    if (positions.size() < 2) continue;
    for (int m : positions) state.groupRoot[static_cast<std::size_t>(m)] = root;
    const std::int64_t id = state.nextTakeId();
    auto score = state.groupScore.find(root);
    const bool confident = score != state.groupScore.end() && score->second >= kConfidentGroup;
    const auto group = utterancesAt(state, positions);
    const Utterance winner = state.winnerOf(positions);
    const int w = winner.index;

    bool removedAny = false;
    for (int m : positions) {
      if (m == w) continue;
      const Utterance& member = state.at(m);
      bool alternate = endsCleanly(member) && winner.tokens.size() <= 2 * member.tokens.size() &&
                       internalRestarts(member.tokens).empty() && !confident &&
                       !TextAlign::isAbortedPrefix(member.tokens, winner.tokens);
      if (alternate) {
        state.advise(member.range,
                     "Possible alternate take of \u201c" + snippet(winner) + "\u201d \u2014 kept; review");
      } else {
        state.remove(m, SegmentKind::retakeRejected, takeReason(member, group, winner), id, w);
        removedAny = true;
      }
    }
    if (!removedAny) continue;

    std::vector<std::pair<double, TimeRange>> alternates;
    for (int m : positions) {
      if (m == w || !state.isRemoved(m)) continue;
      const Utterance& member = state.at(m);
      if (!endsCleanly(member) || member.range.duration() < kAlternateDuration * winner.range.duration()) continue;
      double similarity = state.similarity.retake(m, w);
      if (similarity >= kAlternateSimilarity) alternates.emplace_back(similarity, member.range);
    }
    std::stable_sort(alternates.begin(), alternates.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    std::vector<TimeRange> ranges;
    for (std::size_t k = 0; k < std::min(kMaxAlternates, alternates.size()); ++k)
      ranges.push_back(alternates[k].second);
    state.result.takeGroups.push_back(TakeGroupInfo{id, winner.range, std::move(ranges)});
  }
}

}  // namespace kestrane::TakeSelector
