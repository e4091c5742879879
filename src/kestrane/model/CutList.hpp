#pragma once
// The decided cut: the whole source as kept and removed stretches.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

enum class SegmentKind { keep, silence, filler, retakeRejected, flub, manual };

template <>
struct EnumText<SegmentKind> {
  static constexpr std::array<std::string_view, 6> texts{"keep",           "silence", "filler",
                                                         "retakeRejected", "flub",    "manual"};
};

struct Segment {
  TimeRange range;
  SegmentKind kind = SegmentKind::keep;
  std::optional<std::string> reason;
  std::optional<std::int64_t> takeGroup;

  bool isKept() const { return kind == SegmentKind::keep; }
  friend bool operator==(const Segment&, const Segment&) = default;
};

struct CutList {
  std::vector<Segment> segments;

  // The keep segments in order, unmerged.
  std::vector<Segment> keptSegments() const;
  double keptDuration() const;
};

}  // namespace kestrane
