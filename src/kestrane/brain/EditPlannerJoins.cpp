// Passes that settle the joins of a planned cut: quieter keep-to-remove joins, and wordless
// slivers swept into their neighbours.
#include <algorithm>
#include <cmath>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/brain/WordTimeline.hpp"

namespace kestrane::EditPlanner {

CutList snapAbuttingBoundaries(const CutList& cut, std::span<const TranscriptWord> words,
                               const std::optional<LevelData>& levels, double frameDuration) {
  if (!levels) return cut;
  const double h = levels->hopDuration;
  if (!(h > 0) || !std::isfinite(h)) return cut;
  const std::vector<float> envelope = levels->levelsDBFS();
  if (envelope.empty()) return cut;
  const auto count = static_cast<double>(envelope.size());
  // The hop a time falls in, when the envelope has one there.
  auto hopAt = [&](double t) -> std::optional<std::size_t> {
    const double k = std::trunc(t / h);
    if (!(k >= 0) || !(k < count)) return std::nullopt;
    return static_cast<std::size_t>(k);
  };

  const double shortest = std::max(2 * frameDuration, 0.08);
  const WordTimeline timeline(words);
  CutList result = cut;
  auto& segs = result.segments;
  for (std::size_t i = 0; i + 1 < segs.size(); ++i) {
    if (!segs[i].isKept() || segs[i + 1].isKept()) continue;
    const double b = segs[i].range.end;
    const TimeRange removed = segs[i + 1].range;
    const auto reference = hopAt(b - h);
    if (!reference) continue;
    const float joinLevel = envelope[*reference];
    const double limit = std::min(removed.end, b + maxBoundarySnap);
    if (!(b < limit)) continue;

    float best = joinLevel;
    double bestTime = b;
    for (int n = 0;; ++n) {
      const double t = b + n * h;
      // Past the envelope nothing can be quieter; stopping there also bounds the scan when a
      // stored hop is absurdly small.
      if (!(t < limit) || !(t / h < count)) break;
      const auto k = hopAt(t);
      if (k && envelope[*k] < best) {
        best = envelope[*k];
        bestTime = t;
      }
    }
    if (!(bestTime > b) || !(joinLevel - best >= boundarySoundingMargin)) continue;
    // Never move the join past the middle of a word that the removal takes out.
    if (auto w = timeline.firstLyingIn(removed)) bestTime = std::min(bestTime, timeline.midpoint(*w));
    const double newEnd = std::min(removed.end - shortest, bestTime);
    if (b + frameDuration / 2 < newEnd) {
      segs[i].range.end = newEnd;
      segs[i + 1].range.start = newEnd;
    }
  }
  return result;
}

CutList sweepingMicroKeeps(const CutList& cut, std::span<const TranscriptWord> words, double glue) {
  const WordTimeline timeline(words);
  CutList result = cut;
  auto& segs = result.segments;
  for (std::size_t i = 0; i < segs.size(); ++i) {
    Segment& seg = segs[i];
    if (!seg.isKept() || !(seg.range.duration() < glue) || timeline.anyLyingIn(seg.range)) continue;
    Segment* prev = i > 0 && !segs[i - 1].isKept() ? &segs[i - 1] : nullptr;
    Segment* next = i + 1 < segs.size() && !segs[i + 1].isKept() ? &segs[i + 1] : nullptr;
    // Between two removals the longer one takes the sliver; a tie goes to the earlier.
    if (prev && !(next && next->range.duration() > prev->range.duration())) {
      prev->range.end = seg.range.end;
      seg.range.start = seg.range.end;
    } else if (next) {
      next->range.start = seg.range.start;
      seg.range.end = seg.range.start;
    }
  }
  // Segments of a millisecond or less go, their time to a neighbour (one as kept as they are,
  // when there is one), so the cut stays whole.
  std::vector<Segment> whole;
  whole.reserve(segs.size());
  for (std::size_t i = 0; i < segs.size(); ++i) {
    const Segment& seg = segs[i];
    if (seg.range.duration() > 0.001) {
      whole.push_back(seg);
      continue;
    }
    const Segment* next = i + 1 < segs.size() ? &segs[i + 1] : nullptr;
    const bool toPrevious =
        !whole.empty() && (!next || whole.back().isKept() == seg.isKept() || next->isKept() != seg.isKept());
    if (toPrevious) {
      whole.back().range.end = std::max(whole.back().range.end, seg.range.end);
    } else if (next) {
      segs[i + 1].range.start = std::min(next->range.start, seg.range.start);
    }
  }
  result.segments = std::move(whole);
  return result;
}

}  // namespace kestrane::EditPlanner
