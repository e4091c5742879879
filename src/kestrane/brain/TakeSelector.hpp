#pragma once
// The deterministic take engine: from the recognised words, the optional
// script, the silences, the loudness envelope and the settings it decides
// which utterances leave the cut and why, which repeated takes form a group,
// and where an editor should take a look.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kestrane/model/Advisory.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TakeGroupInfo.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::TakeSelector {

struct Decision {
  std::vector<Segment> removals;          // ordered by range start
  std::vector<Advisory> advisories;       // in the order they were made
  std::vector<TakeGroupInfo> takeGroups;  // groups that lost at least one take

  friend bool operator==(const Decision&, const Decision&) = default;
};

// silences are the utterance splitter's spans (found with kSplitterMinSilence),
// not the cut's. Reads only removeFillers and dedupRepeatedLines of settings.
Decision decide(const Transcript& transcript, const std::optional<std::string>& script,
                std::span<const SilenceSpan> silences, const std::optional<LevelData>& levels,
                const PipelineSettings& settings);

// decide in two steps. The first runs every stage but the filler words and leaves the removals
// in the order they were made; it reads only dedupRepeatedLines of settings, so a change of
// removeFillers can reuse it. The second adds the filler words and orders the removals.
Decision decideBeforeFillers(const Transcript& transcript, const std::optional<std::string>& script,
                             std::span<const SilenceSpan> silences, const std::optional<LevelData>& levels,
                             const PipelineSettings& settings);
Decision withFillers(Decision beforeFillers, const Transcript& transcript, const PipelineSettings& settings);

// Only the filler words, for the silences-only mode.
Decision fillersOnly(const Transcript& transcript, const PipelineSettings& settings);

}  // namespace kestrane::TakeSelector
