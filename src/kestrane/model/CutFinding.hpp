#pragma once
// One measured problem at a join of an assembled cut, as the cut instruments and the framing
// check report it. A fact for the reviewer and the editor; it changes nothing by itself.
#include <array>
#include <string>
#include <string_view>

#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

struct CutFinding {
  // Declaration order; the ranking order of the kinds is a separate table (see
  // CutInstruments::rank).
  enum class Kind { sourceContinuity, spliceLevel, spliceBreath, pacingWhiplash, framingJump };

  Kind kind = Kind::sourceContinuity;
  TimeRange range;     // source seconds of the problem
  std::string detail;  // one English sentence for the reviewer and the editor
  // Size of the problem in the instrument's own unit: 1 for continuity, dB for a level step,
  // seconds of breath, a speed ratio, or a frame difference from 0 to 1.
  double severity = 0;

  friend bool operator==(const CutFinding&, const CutFinding&) = default;
};

template <>
struct EnumText<CutFinding::Kind> {
  static constexpr std::array<std::string_view, 5> texts{"sourceContinuity", "spliceLevel", "spliceBreath",
                                                         "pacingWhiplash", "framingJump"};
};

}  // namespace kestrane
