#pragma once
// The cut that the settings make of an analysis, before any AI review: the silences, the take
// decision and the cut list. The decision stage of every job starts from it, so a live preview
// built with it shows exactly the cut a job without the AI tier delivers.
#include <mutex>
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

// What one draft leaves for the next over the same analysis: the decoded levels and the last
// take decision with what it was made from. The decision is the costly part and does not
// depend on the tightness, so a draft that changes only the tightness reuses it. Its stages
// before the filler words depend on neither the filler choice nor the silences-only mode, so
// they are kept apart too and a switch of either reuses them. One cache serves one analysis;
// drafts on several threads may share it.
class DraftCache {
 public:
  DraftCache() = default;
  DraftCache(const DraftCache&) = delete;
  DraftCache& operator=(const DraftCache&) = delete;

 private:
  friend DraftCut draftCut(const Analysis&, const std::optional<std::string>&, const PipelineSettings&, DraftCache&);
  struct Decided {
    std::optional<std::string> script;
    std::vector<SilenceSpan> splitterSilences;
    bool silencesOnly = false;
    bool removeFillers = true;
    std::optional<bool> dedupRepeatedLines;
    TakeSelector::Decision decision;
  };
  std::mutex mutex_;
  std::optional<std::vector<float>> levels_;
  std::optional<Decided> decided_;
  struct BeforeFillers {
    std::optional<std::string> script;
    std::vector<SilenceSpan> splitterSilences;
    std::optional<bool> dedupRepeatedLines;
    TakeSelector::Decision decision;
  };
  std::optional<BeforeFillers> beforeFillers_;
};

// Pure and deterministic: the same analysis, script and settings always give the same draft.
// Only the filler words are decided with silences only; hand keeps and removals in the
// settings apply.
DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script, const PipelineSettings& settings);
// The same draft, reusing what `cache` kept from an earlier draft of this analysis.
DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script, const PipelineSettings& settings,
                  DraftCache& cache);

// The fixed chain from a take decision's removals to the cut list, which draftCut ends with: a
// pass that changes the decision (the AI review) plans the cut again through it.
CutList cutFromDecision(const Analysis& analysis, const std::vector<SilenceSpan>& silences,
                        const std::vector<SilenceSpan>& splitterSilences, const std::vector<Segment>& removals,
                        const PipelineSettings& settings);

}  // namespace kestrane::Pipeline
