// Hand edits laid over a planned cut. A session may hold many thousands of hand ranges, so each
// segment meets only the ranges that reach into it, and a range that covers it whole settles it
// at once: the work stays close to linear in segments plus ranges.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::EditPlanner {
namespace {

// A forced piece takes every leftover of its segment this short beside it, so the cut never
// has a hole and never a sliver.
constexpr double forcedSliver = 0.005;
// How many ranges or segments are handled between two looks at the stop.
constexpr std::size_t stopStride = 4096;

// The ranges in the order they are given, found by where they start or end. Of two ranges that
// both force the same stretch, the earlier given one decides where the leftovers fall.
class SpanIndex {
 public:
  explicit SpanIndex(std::span<const TimeRange> spans) : spans_(spans) {
    byStart_.resize(spans.size());
    for (std::size_t k = 0; k < spans.size(); ++k) byStart_[k] = k;
    byEnd_ = byStart_;
    std::sort(byStart_.begin(), byStart_.end(),
              [&](std::size_t x, std::size_t y) { return spans[x].start < spans[y].start; });
    std::sort(byEnd_.begin(), byEnd_.end(), [&](std::size_t x, std::size_t y) { return spans[x].end < spans[y].end; });
  }

  const TimeRange& at(std::size_t k) const { return spans_[k]; }

  // The first given range (of those starting at or before the segments seen so far) that covers
  // [a, b) whole, or none. Segments must come in order of start.
  std::optional<std::size_t> firstCovering(double a, double b) {
    for (; started_ < byStart_.size() && spans_[byStart_[started_]].start <= a; ++started_) {
      admit(byStart_[started_]);
    }
    const auto it = covering_.lower_bound(b);
    if (it == covering_.end()) return std::nullopt;
    return it->second;
  }

  // Every range with an edge strictly inside (a, b), in the given order.
  std::vector<std::size_t> edgesInside(double a, double b) const {
    std::vector<std::size_t> found;
    auto addRun = [&](const std::vector<std::size_t>& sorted, auto edge) {
      auto first = std::upper_bound(sorted.begin(), sorted.end(), a,
                                    [&](double x, std::size_t k) { return x < edge(spans_[k]); });
      for (auto it = first; it != sorted.end() && edge(spans_[*it]) < b; ++it) found.push_back(*it);
    };
    addRun(byStart_, [](const TimeRange& r) { return r.start; });
    addRun(byEnd_, [](const TimeRange& r) { return r.end; });
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
  }

 private:
  // Keeps, by end, only the ranges no other started range beats: one that ends later and was
  // given earlier. Read by end, the given order then rises.
  void admit(std::size_t k) {
    const double end = spans_[k].end;
    const auto later = covering_.lower_bound(end);
    if (later != covering_.end() && later->second <= k) return;
    auto it = covering_.insert_or_assign(end, k).first;
    while (it != covering_.begin()) {
      const auto before = std::prev(it);
      if (before->second < k) break;
      covering_.erase(before);
    }
  }

  std::span<const TimeRange> spans_;
  std::vector<std::size_t> byStart_;
  std::vector<std::size_t> byEnd_;
  std::size_t started_ = 0;
  std::map<double, std::size_t> covering_;
};

// What is left of one segment outside the forced pieces: start -> end, each longer than the
// sliver once a range has cut into it.
using Leftovers = std::map<double, double>;

// Forces the part of the leftovers that `span` overlaps by more than a sliver; a leftover edge
// of a sliver or less goes with it.
void force(Leftovers& left, const TimeRange& span) {
  auto it = left.upper_bound(span.start);
  if (it != left.begin() && std::prev(it)->second > span.start) --it;
  while (it != left.end() && it->first < span.end) {
    const double start = it->first;
    const double end = it->second;
    const double lo = std::max(start, span.start);
    const double hi = std::min(end, span.end);
    if (!(hi - lo > forcedSliver)) {
      ++it;
      continue;
    }
    if (lo - start > forcedSliver) {
      it->second = lo;
      ++it;
    } else {
      it = left.erase(it);
    }
    if (end - hi > forcedSliver) {
      left.emplace_hint(it, hi, end);
      break;
    }
  }
}

// The segment split into its leftovers, with its own kind, reason and take group, and the forced
// pieces between them.
void splitInto(std::vector<Segment>& out, const Segment& segment, const Leftovers& left, SegmentKind kind,
               const char* reason) {
  auto forced = [&](double from, double to) {
    out.push_back(Segment{TimeRange{from, to}, kind, std::string(reason), std::nullopt});
  };
  double cursor = segment.range.start;
  for (const auto& [start, end] : left) {
    if (cursor < start) forced(cursor, start);
    Segment piece = segment;
    piece.range = TimeRange{start, end};
    out.push_back(std::move(piece));
    cursor = end;
  }
  if (cursor < segment.range.end) forced(cursor, segment.range.end);
}

std::vector<Segment> overriding(const std::vector<Segment>& segments, std::span<const TimeRange> spans,
                                SegmentKind kind, const char* reason,
                                const std::function<bool(const Segment&)>& applies) {
  if (spans.empty()) return segments;
  SpanIndex index(spans);

  // Settled in order of start, so the covering ranges can be gathered in one sweep.
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const TimeRange r = segments[i].range;
    if (r.end - r.start > forcedSliver && applies(segments[i])) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t x, std::size_t y) { return segments[x].range.start < segments[y].range.start; });
  std::vector<std::optional<Leftovers>> changed(segments.size());
  // Counts the ranges and segments handled, looking at the stop every stopStride of them.
  std::size_t work = 0, nextLook = stopStride;
  auto handled = [&](std::size_t count) {
    work += count;
    if (work >= nextLook) {
      checkpoint();
      nextLook = work + stopStride;
    }
  };
  for (std::size_t i : order) {
    const TimeRange r = segments[i].range;
    const auto cover = index.firstCovering(r.start, r.end);
    const std::size_t last = cover.value_or(std::numeric_limits<std::size_t>::max());
    Leftovers left{{r.start, r.end}};
    const auto inside = index.edgesInside(r.start, r.end);
    handled(inside.size() + 1);
    for (std::size_t k : inside) {
      if (k > last) break;
      force(left, index.at(k));
    }
    // The covering range forces whatever the earlier ones left.
    if (cover) left.clear();
    if (left.size() != 1 || left.begin()->first != r.start || left.begin()->second != r.end) {
      changed[i] = std::move(left);
    }
  }

  std::vector<Segment> forced;
  forced.reserve(segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (changed[i]) {
      splitInto(forced, segments[i], *changed[i], kind, reason);
    } else {
      forced.push_back(segments[i]);
    }
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

CutList forcing(std::span<const TimeRange> keeps, std::span<const TimeRange> removals, const CutList& cut) {
  auto segments = overriding(cut.segments, removals, SegmentKind::manual, manualRemovalReason,
                             [](const Segment& s) { return s.isKept(); });
  segments =
      overriding(segments, keeps, SegmentKind::keep, manualKeepReason, [](const Segment& s) { return !s.isKept(); });
  return CutList{std::move(segments)};
}

}  // namespace kestrane::EditPlanner
