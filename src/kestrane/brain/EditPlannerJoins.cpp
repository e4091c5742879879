// Passes that settle the joins of a planned cut: quieter keep-to-remove joins, hand edits laid
// on top, and wordless slivers swept into their neighbours.
#include <algorithm>
#include <cmath>
#include <functional>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/brain/WordTimeline.hpp"

namespace kestrane::EditPlanner {
namespace {

// Splits pieces shorter than this are dropped, leaving at most this gap in the list.
constexpr double forcedSliver = 0.005;

std::vector<Segment> overriding(const std::vector<Segment>& segments, std::span<const TimeRange> spans,
                                SegmentKind kind, const char* reason,
                                const std::function<bool(const Segment&)>& applies) {
  if (spans.empty()) return segments;
  std::vector<Segment> forced;
  std::vector<Segment> pieces;
  std::vector<Segment> next;
  for (const auto& segment : segments) {
    if (!applies(segment)) {
      forced.push_back(segment);
      continue;
    }
    pieces.assign(1, segment);
    for (const auto& span : spans) {
      next.clear();
      for (const auto& piece : pieces) {
        const double lo = std::max(piece.range.start, span.start);
        const double hi = std::min(piece.range.end, span.end);
        if (!(hi - lo > forcedSliver)) {
          next.push_back(piece);
          continue;
        }
        if (lo - piece.range.start > forcedSliver) {
          Segment head = piece;
          head.range.end = lo;
          next.push_back(std::move(head));
        }
        next.push_back(Segment{TimeRange{lo, hi}, kind, std::string(reason), std::nullopt});
        if (piece.range.end - hi > forcedSliver) {
          Segment tail = piece;
          tail.range.start = hi;
          next.push_back(std::move(tail));
        }
      }
      pieces.swap(next);
    }
    forced.insert(forced.end(), pieces.begin(), pieces.end());
  }

  std::vector<Segment> merged;
  merged.reserve(forced.size());
  for (auto& segment : forced) {
    if (!merged.empty()) {
      Segment& prev = merged.back();
      const bool joins = prev.kind == segment.kind && std::abs(prev.range.end - segment.range.start) < forcedSliver &&
                         (segment.isKept() || (prev.reason == segment.reason && prev.takeGroup == segment.takeGroup));
      if (joins) {
        prev.range.end = std::max(prev.range.end, segment.range.end);
        if (!prev.reason) prev.reason = segment.reason;
        continue;
      }
    }
    merged.push_back(std::move(segment));
  }
  return merged;
}

}  // namespace

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

CutList forcing(std::span<const TimeRange> keeps, std::span<const TimeRange> removals, const CutList& cut) {
  auto segments = overriding(cut.segments, removals, SegmentKind::manual, manualRemovalReason,
                             [](const Segment& s) { return s.isKept(); });
  segments =
      overriding(segments, keeps, SegmentKind::keep, manualKeepReason, [](const Segment& s) { return !s.isKept(); });
  return CutList{std::move(segments)};
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
  std::erase_if(segs, [](const Segment& s) { return !(s.range.duration() > 0.001); });
  return result;
}

}  // namespace kestrane::EditPlanner
