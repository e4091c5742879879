#pragma once
// The finished cut read back the way a viewer meets it, for the self-review round: every
// surviving line in order with where it sits in the cut and where it was shot, later renditions
// of it that were cut away, and how much was removed before it; with the script coverage and
// the measured checks marked as facts not to recompute. The text is written for the model.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kestrane/brain/CutInstruments.hpp"
#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/CutList.hpp"

namespace kestrane::CoherenceReview {

struct Rendition {
  int index = 0;
  double start = 0;
  friend bool operator==(const Rendition&, const Rendition&) = default;
};

// One surviving line of the cut.
struct Line {
  int index = 0;
  double cutStart = 0;  // where the viewer hears it
  double sourceStart = 0;
  double sourceEnd = 0;
  std::string text;
  std::vector<Rendition> laterCutRenditions;  // up to 3, in source order
  double removedBefore = 0;                   // source seconds since the previous surviving line
  int removedTakesBefore = 0;                 // removed retakes and flubs in that stretch
};

std::vector<Line> reading(std::span<const TakeSelector::Utterance> utterances, const CutList& cutList);

// Nothing when the cut reads back as fewer than two lines.
std::optional<std::string> evidence(std::span<const TakeSelector::Utterance> utterances, const CutList& cutList,
                                    std::span<const ScriptCoverage::BeatResult> coverage,
                                    std::span<const CutInstruments::Finding> instruments);

// "m:ss.s" with minutes unbounded (75.3 s is "1:15.3").
std::string clockTime(double seconds);

}  // namespace kestrane::CoherenceReview
