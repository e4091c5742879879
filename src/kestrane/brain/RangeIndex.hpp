#pragma once
// Time ranges indexed by start so the planner can find the words or silences around a point
// with a binary search and a short scan instead of walking the whole list; and the overlap
// of two ranges.
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <span>
#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

class RangeIndex {
 public:
  RangeIndex() = default;
  // Positions follow the ranges ordered by start; equal starts keep their given order.
  explicit RangeIndex(std::span<const TimeRange> ranges);
  // Over the ranges of items that carry one (words, silences).
  template <typename Items>
  static RangeIndex of(const Items& items) {
    std::vector<TimeRange> ranges;
    ranges.reserve(std::size(items));
    for (const auto& item : items) ranges.push_back(item.range);
    return RangeIndex(ranges);
  }

  std::size_t size() const { return order_.size(); }
  bool empty() const { return order_.empty(); }
  // The given index of the range at a position.
  std::size_t item(std::size_t position) const { return order_[position]; }
  double start(std::size_t position) const { return starts_[position]; }
  double end(std::size_t position) const { return ends_[position]; }

  // How many ranges start before x (at or before x).
  std::size_t startingBefore(double x) const;
  std::size_t startingAtOrBefore(double x) const;
  // The first position from which some range ends after x (at or after x): every range at an
  // earlier position ends at or before x (before x).
  std::size_t firstReachingPast(double x) const;
  std::size_t firstReaching(double x) const;
  // Whether any range at or before the position ends after x; scans walking backwards stop
  // once this fails.
  bool anyAtOrBeforeEndsAfter(std::size_t position, double x) const { return reach_[position] > x; }

 private:
  std::vector<std::size_t> order_;
  std::vector<double> starts_;
  std::vector<double> ends_;
  std::vector<double> reach_;  // greatest end up to each position
};

// Seconds two ranges have in common, 0 when they are apart.
inline double overlapLength(const TimeRange& a, const TimeRange& b) {
  return std::max(0.0, std::min(a.end, b.end) - std::max(a.start, b.start));
}

}  // namespace kestrane
