// Off-mic chatter: lines held mostly under the silence floor that match no
// script line, islands of talk inside quiet conversation, and room-talk clusters.
#include <algorithm>
#include <limits>

#include "kestrane/brain/ChatterDetector.hpp"
#include "kestrane/brain/DecisionState.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

constexpr double kUnderFloorShare = 0.35;
constexpr double kScriptCoverage = 0.45;
constexpr double kClusterCoveredShare = 0.5;
constexpr double kClusterEdge = 0.05;

// Silence spans ordered by start, with the latest end up to each, so the spans
// touching a range are found without a full scan.
class SilenceWindow {
 public:
  explicit SilenceWindow(std::span<const SilenceSpan> silences) : silences_(silences) {
    order_.resize(silences.size());
    for (std::size_t k = 0; k < silences.size(); ++k) order_[k] = k;
    std::stable_sort(order_.begin(), order_.end(),
                     [&](std::size_t a, std::size_t b) { return silences[a].range.start < silences[b].range.start; });
    double latest = -std::numeric_limits<double>::infinity();
    for (std::size_t k : order_) {
      latest = std::max(latest, silences[k].range.end);
      latestEnd_.push_back(latest);
    }
  }

  // Seconds of range under silence, summed in the spans' own order.
  double covered(const TimeRange& range) const {
    auto stop = std::lower_bound(order_.begin(), order_.end(), range.end,
                                 [&](std::size_t k, double end) { return silences_[k].range.start < end; });
    std::vector<std::size_t> touching;
    for (auto k = static_cast<std::size_t>(stop - order_.begin()); k-- > 0;) {
      if (!(latestEnd_[k] > range.start)) break;
      if (overlapLength(silences_[order_[k]].range, range) > 0) touching.push_back(order_[k]);
    }
    std::sort(touching.begin(), touching.end());
    double sum = 0;
    for (std::size_t k : touching) sum += overlapLength(silences_[k].range, range);
    return sum;
  }

 private:
  std::span<const SilenceSpan> silences_;
  std::vector<std::size_t> order_;
  std::vector<double> latestEnd_;
};

}  // namespace

void removeOffMicChatter(DecisionState& state) {
  if (state.beats.empty()) return;
  const SilenceWindow window(state.silences);
  for (int k = 0; k < state.count(); ++k) {
    if (k % 1024 == 0) checkpoint();
    const Utterance& u = state.at(k);
    if (state.isRemoved(k) || u.tokens.empty()) continue;
    const double duration = u.range.duration();
    if (!(duration > 0) || window.covered(u.range) / duration < kUnderFloorShare) continue;
    if (scriptMatchCoverage(u.tokens, state.script) < kScriptCoverage)
      state.remove(k, SegmentKind::flub,
                   "off-mic chatter \u2014 mostly below the silence floor, matches nothing in the script");
  }

  for (const auto& island : chatterIslands(state.transcript.words, state.silences, state.script)) {
    checkpoint();
    const auto& removals = state.result.removals;
    bool inside = std::any_of(removals.begin(), removals.end(), [&](const Segment& r) {
      return r.range.start <= island.start && island.end <= r.range.end;
    });
    if (inside) continue;
    state.result.removals.push_back(
        Segment{island, SegmentKind::flub,
                "off-mic chatter \u2014 conversation continues under the silence floor on both sides", std::nullopt});
  }
}

void removeRoomTalk(DecisionState& state) {
  std::vector<TimeRange> stoppages;
  for (const auto& r : state.result.removals)
    if (r.kind == SegmentKind::retakeRejected || r.kind == SegmentKind::flub) stoppages.push_back(r.range);
  auto clusters = ChatterDetector::clusters(state.utts, state.silences, state.levels, state.script, stoppages);
  for (const auto& cluster : clusters) {
    checkpoint();
    double covered = 0;
    for (const auto& r : state.result.removals) covered += overlapLength(cluster.range, r.range);
    if (!(covered < kClusterCoveredShare * cluster.range.duration())) continue;
    state.result.removals.push_back(Segment{cluster.range, SegmentKind::flub, cluster.reason(), std::nullopt});
    for (int k = 0; k < state.count(); ++k) {
      const Utterance& u = state.at(k);
      if (state.isRemoved(k)) continue;
      if (cluster.range.start <= u.range.start + kClusterEdge && u.range.end <= cluster.range.end + kClusterEdge) {
        state.removed[static_cast<std::size_t>(k)] = true;
        state.kind[static_cast<std::size_t>(k)] = SegmentKind::flub;
      }
    }
  }
}

}  // namespace kestrane::TakeSelector
