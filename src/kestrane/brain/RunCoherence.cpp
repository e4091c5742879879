#include "kestrane/brain/RunCoherence.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "kestrane/brain/SimilarityIndex.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::RunCoherence {

namespace {

constexpr double kMaxGap = 30.0;  // between consecutive kept lines
constexpr double kEdgeTolerance = 0.05;
constexpr double kStrayDistance = 90.0;  // a stray lies further than this from its counterpart
constexpr double kNearReach = 120.0;     // renditions "near" a time
constexpr std::size_t kTextWords = 8;

using Position = int;

// The kept utterances of one call, in start order, and where each sits.
struct KeptList {
  std::vector<Position> order;
  std::unordered_map<Position, int> place;  // position -> place in order

  const Utterance& at(const SimilarityIndex& index, int k) const {
    return index.at(order[static_cast<std::size_t>(k)]);
  }
  int size() const { return static_cast<int>(order.size()); }
};

class Scan {
 public:
  Scan(const SimilarityIndex& index, const std::set<int>& kept) : index_(index), keptIndices_(kept) {
    for (Position p = 0; p < index.size(); ++p) firstOf_.try_emplace(index.at(p).index, p);
    for (int idx : kept)
      if (auto it = firstOf_.find(idx); it != firstOf_.end()) kept_.order.push_back(it->second);
    std::stable_sort(kept_.order.begin(), kept_.order.end(),
                     [&](Position x, Position y) { return index.at(x).range.start < index.at(y).range.start; });
    for (int k = 0; k < kept_.size(); ++k) kept_.place[kept_.order[static_cast<std::size_t>(k)]] = k;
    forward_ = std::all_of(index.utterances().begin(), index.utterances().end(),
                           [](const Utterance& u) { return u.range.start <= u.range.end; });
  }

  std::vector<Incident> run() {
    std::vector<Incident> result;
    if (kept_.size() < 2) return result;
    std::unordered_set<int> used;
    for (int k = 0; k + 1 < kept_.size(); ++k) {
      if (k % 256 == 0) checkpoint();
      const Utterance& a = kept_.at(index_, k);
      const Utterance& b = kept_.at(index_, k + 1);
      if (!(a.range.end < b.range.start) || b.range.start - a.range.end > kMaxGap) continue;
      for (Position r : removedBetween(a, b)) {
        const Utterance& counterpart = index_.at(r);
        if (used.count(counterpart.index)) continue;
        int strayPlace = findStray(r, k, used);
        if (strayPlace < 0) continue;
        const Utterance& stray = kept_.at(index_, strayPlace);
        const double strayStart = stray.range.start;
        if (!index_.hasRenditionNear(kept_.order[static_cast<std::size_t>(k)], strayStart, kNearReach) &&
            !index_.hasRenditionNear(kept_.order[static_cast<std::size_t>(k + 1)], strayStart, kNearReach))
          continue;
        const double counterpartStart = counterpart.range.start;
        int counterpartSupport =
            chain(k, -1, counterpart.range.start, strayStart) + chain(k + 1, +1, counterpart.range.end, strayStart);
        int straySupport = chain(strayPlace - 1, -1, stray.range.start, counterpartStart) +
                           chain(strayPlace + 1, +1, stray.range.end, counterpartStart);
        if (!(straySupport < counterpartSupport ||
              (straySupport == counterpartSupport && strayStart < counterpartStart)))
          continue;
        Incident incident;
        incident.stray = stray.index;
        incident.counterpart = counterpart.index;
        incident.before = a.index;
        incident.after = b.index;
        incident.strayStart = strayStart;
        incident.counterpartStart = counterpartStart;
        incident.text = TakeSelector::joinedText(
            std::span(counterpart.words).first(std::min(kTextWords, counterpart.words.size())));
        incident.counterpartSupport = counterpartSupport;
        incident.straySupport = straySupport;
        incident.brokenReason = brokenReason(counterpart, stray, nextKeptStart(counterpart.range.end - kEdgeTolerance));
        result.push_back(std::move(incident));
        used.insert(counterpart.index);
        used.insert(stray.index);
      }
    }
    return result;
  }

 private:
  // Removed lines of more than 3 tokens lying inside the gap, in input order.
  std::vector<Position> removedBetween(const Utterance& a, const Utterance& b) const {
    const double from = a.range.end - kEdgeTolerance;
    const double to = b.range.start + kEdgeTolerance;
    auto inside = [&](Position p) {
      const Utterance& u = index_.at(p);
      return u.range.start >= from && u.range.end <= to && u.tokens.size() > 3 && !keptIndices_.count(u.index);
    };
    std::vector<Position> found;
    if (forward_) {
      // Every utterance ends after it starts, so one inside the gap also starts inside it.
      for (Position p : index_.startingBetween(from, to))
        if (inside(p)) found.push_back(p);
    } else {
      for (Position p = 0; p < index_.size(); ++p) {
        if (p % 4096 == 0) checkpoint();
        if (inside(p)) found.push_back(p);
      }
    }
    return found;
  }

  // The first kept utterance, in start order, that renders r's line far away.
  int findStray(Position r, int k, const std::unordered_set<int>& used) const {
    const double rStart = index_.at(r).range.start;
    int best = -1;
    for (const auto& [start, p] : index_.renditionsOf(r)) {
      auto place = kept_.place.find(p);
      if (place == kept_.place.end()) continue;
      int j = place->second;
      if (j == k || j == k + 1 || (best >= 0 && j >= best)) continue;
      if (kept_.order[static_cast<std::size_t>(j)] != p || used.count(index_.at(p).index)) continue;
      if (!(std::fabs(start - rStart) > kStrayDistance)) continue;
      best = j;
    }
    return best;
  }

  // How far a run of kept lines reaches from the gap (or the stray) whose
  // lines were also delivered near the other time.
  int chain(int place, int direction, double edge, double other) const {
    int count = 0;
    while (place >= 0 && place < kept_.size()) {
      const Utterance& u = kept_.at(index_, place);
      double distance = direction >= 0 ? u.range.start - edge : edge - u.range.end;
      if (!(distance >= -kEdgeTolerance && distance <= kMaxGap) || u.tokens.size() <= 3) break;
      if (!index_.hasRenditionNear(kept_.order[static_cast<std::size_t>(place)], other, kNearReach)) break;
      ++count;
      edge = direction >= 0 ? u.range.end : u.range.start;
      place += direction >= 0 ? 1 : -1;
    }
    return count;
  }

  std::optional<double> nextKeptStart(double from) const {
    auto it = std::lower_bound(kept_.order.begin(), kept_.order.end(), from,
                               [&](Position p, double value) { return index_.at(p).range.start < value; });
    if (it == kept_.order.end()) return std::nullopt;
    return index_.at(*it).range.start;
  }

  const SimilarityIndex& index_;
  const std::set<int>& keptIndices_;
  std::unordered_map<int, Position> firstOf_;
  KeptList kept_;
  bool forward_ = true;  // no utterance ends before it starts
};

}  // namespace

std::set<int> keptIndices(std::span<const Utterance> utterances, const CutList& cutList) {
  std::set<int> result;
  const auto kept = cutList.keptSegments();
  // Every line meets the kept pieces: on a long recording this alone runs for seconds.
  for (std::size_t k = 0; k < utterances.size(); ++k) {
    if ((k + 1) % 256 == 0) checkpoint();
    const auto& u = utterances[k];
    double mid = (u.range.start + u.range.end) / 2;
    if (std::any_of(kept.begin(), kept.end(),
                    [&](const Segment& s) { return s.range.start <= mid && mid < s.range.end; }))
      result.insert(u.index);
  }
  return result;
}

std::optional<std::string> brokenReason(const Utterance& counterpart, const Utterance& stray,
                                        std::optional<double> nextKeptStart) {
  const auto& u = counterpart.tokens;
  const auto& v = stray.tokens;
  if (TextAlign::isAbortedPrefix(u, v)) return "the run's own rendition breaks off early";
  if (0.75 * static_cast<double>(v.size()) > static_cast<double>(u.size()))
    return "the run's own rendition is truncated";
  if (!TakeSelector::internalRestarts(u).empty() && TakeSelector::internalRestarts(v).empty())
    return "the run's own rendition stumbles";
  if (!TakeSelector::endsCleanly(counterpart) && TakeSelector::endsCleanly(stray) &&
      (!nextKeptStart || *nextKeptStart - counterpart.range.end > 2.0))
    return "the run's own rendition never finishes";
  return std::nullopt;
}

std::vector<Incident> incidents(const SimilarityIndex& index, const std::set<int>& kept) {
  return Scan(index, kept).run();
}

std::vector<Incident> incidents(std::span<const Utterance> utterances, const std::set<int>& kept) {
  SimilarityIndex index(utterances);
  return incidents(index, kept);
}

std::vector<Incident> repairPlan(const SimilarityIndex& index, const std::set<int>& kept, int maxRepairs) {
  std::vector<Incident> plan;
  std::set<int> current = kept;
  for (int round = 0; round < maxRepairs; ++round) {
    const Incident* pick = nullptr;
    auto found = incidents(index, current);
    for (const auto& incident : found) {
      if (incident.brokenReason) continue;
      if (!pick) {
        pick = &incident;
        continue;
      }
      int margin = incident.counterpartSupport - incident.straySupport;
      int best = pick->counterpartSupport - pick->straySupport;
      if (margin > best || (margin == best && incident.counterpartStart > pick->counterpartStart)) pick = &incident;
    }
    if (!pick) break;
    current.erase(pick->stray);
    current.insert(pick->counterpart);
    plan.push_back(*pick);
  }
  return plan;
}

std::vector<Incident> repairPlan(std::span<const Utterance> utterances, const std::set<int>& kept, int maxRepairs) {
  SimilarityIndex index(utterances);
  return repairPlan(index, kept, maxRepairs);
}

std::string stamp(double seconds) { return timeStamp(seconds); }

}  // namespace kestrane::RunCoherence
