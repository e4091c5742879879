#pragma once
// Checks a finished cut for structural faults a viewer would notice: script lines missing or
// kept twice, spoken lines kept twice, stretches chopped into tiny pieces, kept lines that
// trail off, and short isolated scraps of speech. It reports; it never changes the cut.
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::OutputAudit {

struct Defect {
  enum class Kind { missingBeat, doubledBeat, doubledLine, choppyRegion, unfinishedLine, suspectFragment };

  Kind kind = Kind::missingBeat;
  TimeRange range;  // a missing beat has the empty range 0…0
  std::string detail;
  std::vector<int> utteranceIndices;  // the utterances' index values, not list positions

  friend bool operator==(const Defect&, const Defect&) = default;
};

// Defects in the order the checks find them: script beats, doubled lines, choppy stretches,
// choppy runs, unfinished lines, suspect fragments.
std::vector<Defect> audit(std::span<const TakeSelector::Utterance> utterances, const Transcript& transcript,
                          const CutList& cutList, const std::optional<std::string>& script);

// "m:ss" of whole seconds, truncated toward zero.
std::string timestamp(double seconds);

}  // namespace kestrane::OutputAudit

namespace kestrane {

template <>
struct EnumText<OutputAudit::Defect::Kind> {
  static constexpr std::array<std::string_view, 6> texts{"missingBeat",  "doubledBeat",    "doubledLine",
                                                         "choppyRegion", "unfinishedLine", "suspectFragment"};
};

}  // namespace kestrane
