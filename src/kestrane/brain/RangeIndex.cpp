#include "kestrane/brain/RangeIndex.hpp"

#include <algorithm>
#include <numeric>

namespace kestrane {

RangeIndex::RangeIndex(std::span<const TimeRange> ranges) {
  order_.resize(ranges.size());
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  const bool sorted = std::is_sorted(ranges.begin(), ranges.end(),
                                     [](const TimeRange& a, const TimeRange& b) { return a.start < b.start; });
  if (!sorted) {
    std::stable_sort(order_.begin(), order_.end(),
                     [&](std::size_t a, std::size_t b) { return ranges[a].start < ranges[b].start; });
  }
  starts_.reserve(ranges.size());
  ends_.reserve(ranges.size());
  reach_.reserve(ranges.size());
  for (std::size_t i : order_) {
    starts_.push_back(ranges[i].start);
    ends_.push_back(ranges[i].end);
    reach_.push_back(reach_.empty() ? ranges[i].end : std::max(reach_.back(), ranges[i].end));
  }
}

std::size_t RangeIndex::startingBefore(double x) const {
  return static_cast<std::size_t>(std::lower_bound(starts_.begin(), starts_.end(), x) - starts_.begin());
}

std::size_t RangeIndex::startingAtOrBefore(double x) const {
  return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), x) - starts_.begin());
}

std::size_t RangeIndex::firstReachingPast(double x) const {
  return static_cast<std::size_t>(std::upper_bound(reach_.begin(), reach_.end(), x) - reach_.begin());
}

std::size_t RangeIndex::firstReaching(double x) const {
  return static_cast<std::size_t>(std::lower_bound(reach_.begin(), reach_.end(), x) - reach_.begin());
}

}  // namespace kestrane
