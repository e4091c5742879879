#pragma once
// The kept stretches of a cut merged into sorted, disjoint spans, so "does this moment lie in
// a kept segment (start included, end excluded)?" is a binary search.
#include <vector>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

class KeptSpans {
 public:
  KeptSpans() = default;
  explicit KeptSpans(const CutList& cutList);

  // Some kept segment has start <= t < end.
  bool contains(double t) const;
  bool empty() const { return spans_.empty(); }

 private:
  std::vector<TimeRange> spans_;
};

}  // namespace kestrane
