#pragma once
// The cut that the settings make of an analysis, before any AI review: the silences, the take
// decision and the cut list. The decision stage of every job starts from it, so a live preview
// built with it shows exactly the cut a job without the AI tier delivers.
#include <optional>
#include <string>
#include <vector>

#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/pipeline/PipelineRequest.hpp"

namespace kestrane::Pipeline {

struct DraftCut {
  std::vector<SilenceSpan> silences;          // at the settings' threshold and minimum
  std::vector<SilenceSpan> splitterSilences;  // same threshold, kSplitterMinSilence
  TakeSelector::Decision decision;
  CutList cutList;
};

// Pure and deterministic: the same analysis, script and settings always give the same draft.
// Only the filler words are decided with silences only; hand keeps and removals in the
// settings apply.
DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script,
                  const PipelineSettings& settings);

// The fixed chain from a take decision's removals to the cut list, which draftCut ends with: a
// pass that changes the decision (the AI review) plans the cut again through it.
CutList cutFromDecision(const Analysis& analysis, const std::vector<SilenceSpan>& silences,
                        const std::vector<SilenceSpan>& splitterSilences,
                        const std::vector<Segment>& removals, const PipelineSettings& settings);

}  // namespace kestrane::Pipeline
