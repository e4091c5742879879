#pragma once
// Measures the joins of an assembled cut (where one kept segment meets the next) and reports
// what an editor would hear there: room-tone steps, cuts inside breaths, pacing jumps between
// takes and lines mixed from two deliveries. The findings are measured facts; nothing here
// changes the cut.
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/CutFinding.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::CutInstruments {

using Finding = CutFinding;

// A loudness envelope ready for measuring: one dBFS sample per hop.
struct Levels {
  std::vector<float> samples;
  double hopDuration = 0.01;

  // Absent when the hop is not positive or nothing decodes.
  static std::optional<Levels> from(const LevelData& data);

  // The samples from floor(t0 / hop) (at least 0) up to ceil(t1 / hop) (at most the count).
  std::vector<double> window(double t0, double t1) const;
};

// Runs mixed from two deliveries, one finding per run-coherence incident of the cut.
std::vector<Finding> sourceContinuity(std::span<const TakeSelector::Utterance> utterances, const CutList& cutList);

// Room-tone steps across the joins, then breaths at the cut points. The breath band is the
// 12 dB just above thresholdDBFS.
std::vector<Finding> spliceQuality(const CutList& cutList, const Transcript& transcript,
                                   const std::optional<LevelData>& levels, double thresholdDBFS);

// Speaking-speed jumps across the joins.
std::vector<Finding> pacingWhiplash(const CutList& cutList, const Transcript& transcript);

// At most 8 findings per kind (the most severe), ordered by start.
std::vector<Finding> rank(const std::vector<Finding>& findings);

// The block of measured facts for the self-review prompt; absent for no findings.
std::optional<std::string> evidence(std::span<const Finding> findings);

// The breath-loud run around one cut point, when it reaches 0.03 s on each side of it and
// lasts at least 0.08 s.
std::optional<TimeRange> breathRun(double around, const Levels& levels, double threshold);

// Words per second over the last (first) 6 words lying wholly inside the range; absent with
// fewer than 6 words or a span under 1 s.
std::optional<double> rateEndingIn(const TimeRange& range, const Transcript& transcript);
std::optional<double> rateStartingIn(const TimeRange& range, const Transcript& transcript);

double median(std::vector<double> values);

// "m:ss" of whole seconds, truncated toward zero.
std::string stamp(double seconds);

}  // namespace kestrane::CutInstruments
