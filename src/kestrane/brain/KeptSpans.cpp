#include "kestrane/brain/KeptSpans.hpp"

#include <algorithm>

namespace kestrane {

KeptSpans::KeptSpans(const CutList& cutList) {
  std::vector<TimeRange> kept;
  for (const auto& segment : cutList.segments)
    if (segment.isKept() && segment.range.start < segment.range.end) kept.push_back(segment.range);
  std::sort(kept.begin(), kept.end(), [](const TimeRange& a, const TimeRange& b) { return a.start < b.start; });
  // Half-open spans that touch merge: the shared point belongs to the later one.
  for (const auto& range : kept) {
    if (!spans_.empty() && range.start <= spans_.back().end) spans_.back().end = std::max(spans_.back().end, range.end);
    else spans_.push_back(range);
  }
}

bool KeptSpans::contains(double t) const {
  auto after =
      std::upper_bound(spans_.begin(), spans_.end(), t, [](double x, const TimeRange& span) { return x < span.start; });
  if (after == spans_.begin()) return false;
  return t < std::prev(after)->end;
}

}  // namespace kestrane
