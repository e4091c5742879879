// Repairs after the cut is chosen: lines kept from the wrong run-through,
// lines whose every rendition was cut, unfinished kept lines with a completed
// rendition among the removed ones, and orphan fragments.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "kestrane/brain/DecisionState.hpp"
#include "kestrane/brain/RunCoherence.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

constexpr int kMaxRepairs = 12;
constexpr double kRenditionSimilarity = 0.5;
constexpr std::size_t kMinRenditionTokens = 4;
constexpr double kLocalReach = 90.0;
constexpr double kPayoffAlignment = 0.3;
constexpr int kOpeningRun = 3;
constexpr std::size_t kMinLineTokens = 5;
constexpr double kLineGoesOn = 2.0;
constexpr double kMaxPausePenalty = 0.4;

std::vector<bool> removalsWithRange(const DecisionState& state, const TimeRange& range) {
  std::vector<bool> marked(state.result.removals.size(), false);
  for (std::size_t k = 0; k < marked.size(); ++k) marked[k] = state.result.removals[k].range == range;
  return marked;
}

void deleteMarked(std::vector<Segment>& removals, const std::vector<bool>& marked) {
  std::vector<Segment> kept;
  kept.reserve(removals.size());
  for (std::size_t k = 0; k < removals.size(); ++k)
    if (k >= marked.size() || !marked[k]) kept.push_back(std::move(removals[k]));
  removals = std::move(kept);
}

// Some kept utterance near u already says what u was for.
bool lineSurvives(const DecisionState& state, int r, int t, const std::vector<int>& keptNear) {
  const Utterance& u = state.at(r);
  if (!endsCleanly(u) || u.tokens.size() < kMinLineTokens) return true;
  const auto payoff = payoffToken(u);
  if (!payoff) return true;
  if (containsPayoff(state.at(t), *payoff)) return true;
  for (int k : keptNear) {
    const Utterance& kept = state.at(k);
    if (containsPayoff(kept, *payoff) && state.similarity.alignment(r, k).score >= kPayoffAlignment) return true;
    if (openingRun(u.tokens, kept.tokens) > kOpeningRun) return true;
    if (state.similarity.openingAwareAtLeast(r, k, kRetakeThreshold) &&
        state.similarity.alignment(r, k).bRange.lowerBound < 2)
      return true;
  }
  return false;
}

}  // namespace

void repairMixedRuns(DecisionState& state) {
  std::set<int> kept;
  for (int k = 0; k < state.count(); ++k)
    if (!state.isRemoved(k)) kept.insert(k);
  const auto incidents = RunCoherence::incidents(state.similarity, kept);
  if (incidents.empty()) return;

  const auto plan = RunCoherence::repairPlan(state.similarity, kept, kMaxRepairs);
  std::vector<RunCoherence::Incident> repairs;
  std::vector<bool> marked(state.result.removals.size(), false);  // the removals the repairs delete
  for (const auto& incident : plan) {
    const Utterance& stray = state.at(incident.stray);
    const Utterance& counterpart = state.at(incident.counterpart);
    const auto counterpartKind = state.kind[static_cast<std::size_t>(counterpart.index)];
    auto cutForAnotherReason = [&] {
      state.advise(stray.range, "Mixed run \u2014 this line was delivered again at " +
                                    RunCoherence::stamp(counterpart.range.start) + " with the lines around " +
                                    "it, but that rendition was cut for another reason; review");
    };
    if (counterpartKind != SegmentKind::retakeRejected) {
      cutForAnotherReason();
      continue;
    }
    bool otherInCut = false;
    for (int k = 0; k < state.count() && !otherInCut; ++k) {
      if (k % 1024 == 0) checkpoint();
      if (k == stray.index || k == counterpart.index || state.isRemoved(k)) continue;
      if (state.at(k).tokens.size() < kMinRenditionTokens) continue;
      otherInCut = state.similarity.openingAwareAtLeast(counterpart.index, k, kRenditionSimilarity);
    }
    if (otherInCut) {
      state.advise(stray.range, "Mixed run \u2014 the rendition at " + RunCoherence::stamp(counterpart.range.start) +
                                    " belongs with the lines " +
                                    "around it, but another rendition of that line is already in the cut; review");
      continue;
    }
    // A rendition that another removal would still cut cannot be brought back.
    std::vector<bool> own = removalsWithRange(state, counterpart.range);
    for (std::size_t k = 0; k < own.size(); ++k) own[k] = own[k] || marked[k];
    if (state.coveredByRemoval(counterpart.range, own)) {
      cutForAnotherReason();
      continue;
    }
    marked = std::move(own);
    repairs.push_back(incident);
  }

  if (!repairs.empty()) {
    auto& removals = state.result.removals;
    deleteMarked(removals, marked);
    // Positions are rebuilt from the ranges: the first utterance with a removal's range owns it.
    std::map<std::pair<double, double>, int> firstWithRange;
    for (const auto& u : state.utts)
      if (!std::isnan(u.range.start) && !std::isnan(u.range.end))
        firstWithRange.try_emplace({u.range.start, u.range.end}, u.index);
    state.removalPosition.clear();
    for (std::size_t k = 0; k < removals.size(); ++k) {
      const TimeRange& range = removals[k].range;
      if (std::isnan(range.start) || std::isnan(range.end)) continue;
      if (auto it = firstWithRange.find({range.start, range.end}); it != firstWithRange.end())
        state.removalPosition[it->second] = k;
    }

    for (const auto& repair : repairs) {
      const Utterance& stray = state.at(repair.stray);
      const Utterance& counterpart = state.at(repair.counterpart);
      state.unremove(counterpart.index);
      const std::int64_t id = state.nextTakeId();
      state.remove(stray.index, SegmentKind::retakeRejected,
                   "broke up a run of lines \u2014 kept the rendition at " +
                       RunCoherence::stamp(counterpart.range.start) + ", " + "delivered with the lines around it",
                   id, counterpart.index);
      state.result.takeGroups.push_back(TakeGroupInfo{id, counterpart.range, std::nullopt});
      state.payoffExempt[static_cast<std::size_t>(stray.index)] = true;
      state.repointGroups(stray.range, counterpart.range);
      state.advise(counterpart.range, "Kept this rendition to hold the run together \u2014 the take at " +
                                          timeStamp(stray.range.start) + " was removed; review");
    }
  }

  for (const auto& incident : incidents) {
    if (!incident.brokenReason) continue;
    state.advise(state.at(incident.stray).range,
                 "Mixed run \u2014 this line was delivered again at " + RunCoherence::stamp(incident.counterpartStart) +
                     " with the lines around it, " + "but " + *incident.brokenReason + "; review");
  }
}

void restoreLostLines(DecisionState& state) {
  if (!state.replacement.empty()) {
    const int n = state.count();
    std::vector<int> restore;
    for (const auto& [r, standIn] : state.replacement) {
      checkpoint();
      if (!state.isRemoved(r)) continue;
      int t = r;
      for (int step = 0; step < n; ++step) {
        auto next = state.replacement.find(t);
        if (next == state.replacement.end() || next->second == t) break;
        t = next->second;
        if (!state.isRemoved(t)) break;
      }
      if (state.isRemoved(t)) {
        restore.push_back(r);
        continue;
      }
      if (!state.isRemoved(standIn) && state.payoffExempt[static_cast<std::size_t>(r)]) continue;
      std::vector<int> keptNear;
      for (int k : state.startingWithin(state.at(r).range.start, kLocalReach))
        if (!state.isRemoved(k)) keptNear.push_back(k);
      if (!lineSurvives(state, r, t, keptNear)) restore.push_back(r);
    }

    std::vector<std::vector<int>> groups;
    for (int r : restore) {
      checkpoint();
      auto home = std::find_if(groups.begin(), groups.end(), [&](const std::vector<int>& group) {
        return std::any_of(group.begin(), group.end(),
                           [&](int g) { return state.similarity.retakeAtLeast(g, r, kRetakeThreshold); });
      });
      if (home != groups.end()) home->push_back(r);
      else groups.push_back({r});
    }

    std::vector<bool> marked(state.result.removals.size(), false);
    for (const auto& group : groups) {
      checkpoint();
      const Utterance winner = state.winnerOf(group);
      // Only a line that would really play again comes back.
      std::vector<bool> own = marked;
      auto position = state.removalPosition.find(winner.index);
      if (position != state.removalPosition.end()) own[position->second] = true;
      if (state.coveredByRemoval(winner.range, own)) continue;
      state.unremove(winner.index);
      marked = std::move(own);
      state.advise(winner.range,
                   "Restored \u2014 no other take of \u201c" + snippet(winner) + "\u201d survived the edit; review");
    }
    deleteMarked(state.result.removals, marked);
    state.removalPosition.clear();
  }

  for (const auto& [keptIndex, removedStart] : state.nearDuplicates) {
    if (state.isRemoved(keptIndex)) continue;
    state.advise(state.at(keptIndex).range,
                 "Kept this rendition \u2014 near-duplicate at " + timeStamp(removedStart) + " was removed; review");
  }
}

void swapUnfinishedLines(DecisionState& state) {
  const int n = state.count();
  for (int p = 0; p < n; ++p) {
    if (p % 256 == 0) checkpoint();
    if (state.isRemoved(p)) continue;
    const Utterance& u = state.at(p);
    if (endsCleanly(u) || u.tokens.size() < kMinLineTokens) continue;
    int next = p + 1;
    while (next < n && state.isRemoved(next)) ++next;
    if (next == p + 1 && next < n && state.at(next).range.start - u.range.end < kLineGoesOn) continue;

    int best = -1;
    double bestSimilarity = -std::numeric_limits<double>::infinity();
    for (int c : state.startingWithin(u.range.start, kLocalReach)) {
      if (!state.isRemoved(c)) continue;
      const auto kind = state.kind[static_cast<std::size_t>(c)];
      if (kind != SegmentKind::retakeRejected && kind != SegmentKind::flub) continue;
      const Utterance& candidate = state.at(c);
      if (!endsCleanly(candidate) || candidate.tokens.size() + 2 < u.tokens.size()) continue;
      if (pausePenalty(candidate, state.silences) > kMaxPausePenalty) continue;
      if (!state.similarity.openingAwareAtLeast(p, c, kRetakeThreshold)) continue;
      // A rendition that another removal would still cut cannot be swapped in.
      if (state.coveredByRemoval(candidate.range, removalsWithRange(state, candidate.range))) continue;
      const double similarity = std::min(1.0, state.similarity.openingAware(p, c));
      const bool better = best < 0 || similarity > bestSimilarity ||
                          (similarity == bestSimilarity && candidate.range.start > state.at(best).range.start);
      if (better) {
        best = c;
        bestSimilarity = similarity;
      }
    }
    if (best < 0) continue;

    const Utterance& chosen = state.at(best);
    state.unremove(best);
    deleteMarked(state.result.removals, removalsWithRange(state, chosen.range));
    state.remove(p, SegmentKind::retakeRejected,
                 "unfinished delivery \u2014 swapped for the completed take at " + timeStamp(chosen.range.start), {},
                 best);
    state.repointGroups(u.range, chosen.range);
    state.advise(chosen.range, "Swapped in this completed rendition \u2014 the take at " + timeStamp(u.range.start) +
                                   " ended unfinished; review");
  }

  for (int p = 0; p < n; ++p) {
    if (p % 256 == 0) checkpoint();
    if (state.isRemoved(p)) continue;
    const auto size = state.at(p).tokens.size();
    if (size < 1 || size > 2) continue;
    auto cut = [&](int k) {
      if (k < 0 || k >= n) return false;
      auto kind = state.kind[static_cast<std::size_t>(k)];
      return kind == SegmentKind::flub || kind == SegmentKind::retakeRejected;
    };
    if (cut(p - 1) || cut(p + 1)) state.remove(p, SegmentKind::flub, "orphan fragment beside a cut take");
  }
}

}  // namespace kestrane::TakeSelector
