#pragma once
// Silence spans in time order with the lookups the planner makes around a point in time.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/model/SilenceSpan.hpp"

namespace kestrane {

class SilenceTimeline {
 public:
  explicit SilenceTimeline(std::span<const SilenceSpan> silences);

  bool empty() const { return index_.empty(); }
  const TimeRange& range(std::size_t position) const { return silences_[index_.item(position)].range; }

  // The latest silence starting at or before `startsBy` that ends after x.
  std::optional<std::size_t> lastStartingByEndingAfter(double startsBy, double x) const;
  bool contains(double x) const { return lastStartingByEndingAfter(x, x).has_value(); }
  // The earliest silence starting before `startsBefore` that ends at or after x.
  std::optional<std::size_t> firstEndingFromStartingBefore(double x, double startsBefore) const;
  // The earliest silence starting after x and no later than `startsBy` that ends after y.
  std::optional<std::size_t> firstStartingAfter(double x, double startsBy, double y) const;
  // Whether a silence of at least minDuration lies wholly within [from, to].
  bool anyWithin(double from, double to, double minDuration) const;
  // Seconds of the range covered by silences.
  double coverage(const TimeRange& range) const;

 private:
  std::span<const SilenceSpan> silences_;
  RangeIndex index_;
};

}  // namespace kestrane
