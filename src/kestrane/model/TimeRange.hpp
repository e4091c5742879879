#pragma once
// A span of source time in seconds.

namespace kestrane {

struct TimeRange {
  double start = 0;
  double end = 0;

  double duration() const { return end - start; }
  // Ranges that only touch do not overlap.
  bool overlaps(const TimeRange& other) const { return start < other.end && other.start < end; }

  friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

}  // namespace kestrane
