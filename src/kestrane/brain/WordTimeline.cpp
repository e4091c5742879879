#include "kestrane/brain/WordTimeline.hpp"

namespace kestrane {
namespace {

bool lies(double midpoint, const TimeRange& range) { return range.start <= midpoint && midpoint < range.end; }

}  // namespace

WordTimeline::WordTimeline(std::span<const TranscriptWord> words) : words_(words), index_(RangeIndex::of(words)) {}

std::vector<std::size_t> WordTimeline::lyingIn(const TimeRange& range) const {
  std::vector<std::size_t> found;
  for (std::size_t p = candidatesFrom(range.start), to = candidatesTo(range.end); p < to; ++p) {
    if (lies(midpoint(p), range)) found.push_back(p);
  }
  return found;
}

std::optional<std::size_t> WordTimeline::firstLyingIn(const TimeRange& range) const {
  for (std::size_t p = candidatesFrom(range.start), to = candidatesTo(range.end); p < to; ++p) {
    if (lies(midpoint(p), range)) return p;
  }
  return std::nullopt;
}

std::optional<std::size_t> WordTimeline::lastStraddling(double x) const {
  for (std::size_t p = index_.startingBefore(x); p-- > 0;) {
    if (!index_.anyAtOrBeforeEndsAfter(p, x)) break;
    if (index_.end(p) > x) return p;
  }
  return std::nullopt;
}

std::optional<std::size_t> WordTimeline::lastEndingBy(double endsBy, double startsBefore) const {
  for (std::size_t p = index_.startingBefore(startsBefore); p-- > 0;) {
    if (index_.end(p) <= endsBy) return p;
  }
  return std::nullopt;
}

std::optional<std::size_t> WordTimeline::lastMidpointBefore(double x) const {
  // A word starting at or after x has its midpoint at or after x.
  for (std::size_t p = index_.startingBefore(x); p-- > 0;) {
    if (midpoint(p) < x) return p;
  }
  return std::nullopt;
}

std::vector<std::size_t> WordTimeline::overlapping(const TimeRange& range) const {
  std::vector<std::size_t> found;
  for (std::size_t p = index_.firstReachingPast(range.start), to = index_.startingBefore(range.end); p < to; ++p) {
    if (index_.end(p) > range.start) found.push_back(p);
  }
  return found;
}

}  // namespace kestrane
