#include "kestrane/brain/SilenceTimeline.hpp"

#include <algorithm>

namespace kestrane {
SilenceTimeline::SilenceTimeline(std::span<const SilenceSpan> silences)
    : silences_(silences), index_(RangeIndex::of(silences)) {}

std::optional<std::size_t> SilenceTimeline::lastStartingByEndingAfter(double startsBy, double x) const {
  for (std::size_t p = index_.startingAtOrBefore(startsBy); p-- > 0;) {
    if (!index_.anyAtOrBeforeEndsAfter(p, x)) break;
    if (index_.end(p) > x) return p;
  }
  return std::nullopt;
}

std::optional<std::size_t> SilenceTimeline::firstEndingFromStartingBefore(double x, double startsBefore) const {
  for (std::size_t p = index_.firstReaching(x), to = index_.startingBefore(startsBefore); p < to; ++p) {
    if (index_.end(p) >= x) return p;
  }
  return std::nullopt;
}

std::optional<std::size_t> SilenceTimeline::firstStartingAfter(double x, double startsBy, double y) const {
  for (std::size_t p = index_.startingAtOrBefore(x); p < index_.size() && index_.start(p) <= startsBy; ++p) {
    if (index_.end(p) > y) return p;
  }
  return std::nullopt;
}

bool SilenceTimeline::anyWithin(double from, double to, double minDuration) const {
  for (std::size_t p = index_.startingBefore(from); p < index_.size() && index_.start(p) <= to; ++p) {
    if (index_.end(p) <= to && index_.end(p) - index_.start(p) >= minDuration) return true;
  }
  return false;
}

double SilenceTimeline::coverage(const TimeRange& range) const {
  double covered = 0;
  double cursor = range.start;  // overlapping silences are not counted twice
  for (std::size_t p = index_.firstReachingPast(range.start), to = index_.startingBefore(range.end); p < to; ++p) {
    const double lo = std::max(cursor, index_.start(p));
    const double hi = std::min(range.end, index_.end(p));
    if (hi > lo) {
      covered += hi - lo;
      cursor = hi;
    }
  }
  return covered;
}

}  // namespace kestrane
