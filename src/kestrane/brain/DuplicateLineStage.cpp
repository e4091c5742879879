// Lines said twice anywhere in the recording, outside any one take group.
#include <algorithm>
#include <set>

#include "kestrane/brain/DecisionState.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

constexpr std::size_t kMinTokens = 5;
constexpr double kDuplicate = 0.75;
constexpr double kNearCandidate = 0.4;
constexpr double kNearDuplicate = 0.5;
constexpr double kCloseGap = 90.0;

bool sameGroup(const DecisionState& state, int a, int b) {
  int ra = state.groupRoot[static_cast<std::size_t>(a)];
  return ra >= 0 && ra == state.groupRoot[static_cast<std::size_t>(b)];
}

}  // namespace

void removeDuplicateLines(DecisionState& state) {
  if (!state.settings.dedupRepeatedLines.value_or(true)) return;
  const int n = state.count();
  std::vector<bool> candidate(static_cast<std::size_t>(n), false);
  std::vector<int> candidates;
  for (int k = 0; k < n; ++k) {
    if (!state.isRemoved(k) && state.at(k).tokens.size() >= kMinTokens) {
      candidate[static_cast<std::size_t>(k)] = true;
      candidates.push_back(k);
    }
  }
  std::set<int> advised;

  for (std::size_t ai = 0; ai + 1 < candidates.size(); ++ai) {
    checkpoint();
    const int a = candidates[ai];
    if (state.isRemoved(a)) continue;
    // Pairs left out here have an opening-aware similarity below 0.4, and
    // the retake similarity never exceeds it: both would be skipped.
    for (int b : state.similarity.partnersAfter(a, kNearCandidate)) {
      if (!candidate[static_cast<std::size_t>(b)] || state.isRemoved(b) || sameGroup(state, a, b)) continue;
      const double dup = state.similarity.retake(a, b);
      const double near = state.similarity.openingAware(a, b);
      if (!(dup >= kDuplicate || near >= kNearCandidate)) continue;

      const Utterance& ua = state.at(a);
      const Utterance& ub = state.at(b);
      const Utterance winner = state.winnerOf({a, b});
      const bool laterWins = winner.index == b;
      const Utterance& loser = laterWins ? ua : ub;
      const double gap = std::max(0.0, ub.range.start - ua.range.end);

      bool unfinished = true;
      bool removeIt = false, adviseIt = false;
      if (isFinished(loser)) {
        unfinished = TextAlign::isAbortedPrefix(loser.tokens, winner.tokens);
        if (dup >= kDuplicate) removeIt = true;
        else if (gap <= kCloseGap) removeIt = near >= kNearDuplicate || unfinished;
        else adviseIt = near >= kNearDuplicate;
      } else {
        if (dup >= kDuplicate || gap <= kCloseGap) removeIt = true;
        else adviseIt = near >= kNearDuplicate;
      }

      if (removeIt) {
        const std::int64_t id = state.nextTakeId();
        std::string reason = dup >= kDuplicate ? "duplicate line \u2014 kept the "
                             : unfinished      ? "near-duplicate, unfinished delivery \u2014 kept the "
                                               : "near-duplicate line \u2014 kept the ";
        reason += std::string(laterWins ? "later" : "earlier") + " rendition at " + timeStamp(winner.range.start);
        state.remove(loser.index, SegmentKind::retakeRejected, std::move(reason), id, winner.index);
        state.result.takeGroups.push_back(TakeGroupInfo{id, winner.range, std::nullopt});
        if (dup < kDuplicate) {
          state.nearDuplicates.emplace_back(winner.index, loser.range.start);
          state.payoffExempt[static_cast<std::size_t>(loser.index)] = true;
        }
        if (loser.index == a) break;
      } else if (adviseIt && advised.insert(loser.index).second) {
        state.advise(loser.range,
                     "Possible duplicate line \u2014 also said at " + timeStamp(winner.range.start) + "; kept both");
      }
    }
  }
}

}  // namespace kestrane::TakeSelector
