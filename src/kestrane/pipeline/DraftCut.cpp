#include "kestrane/pipeline/DraftCut.hpp"

#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/brain/EditPlanner.hpp"

namespace kestrane::Pipeline {

DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script,
                  const PipelineSettings& settings) {
  const AudioAnalyzer::LevelTrack track{analysis.levels.levelsDBFS(), analysis.levels.hopDuration};
  DraftCut draft;
  draft.silences =
      AudioAnalyzer::silences(track, settings.silenceThresholdDBFS, settings.minSilenceDuration);
  draft.splitterSilences =
      AudioAnalyzer::silences(track, settings.silenceThresholdDBFS, kSplitterMinSilence);

  const std::optional<LevelData> levels = analysis.levels;
  draft.decision = settings.thoroughness == Thoroughness::silencesOnly
                       ? TakeSelector::fillersOnly(analysis.transcript, settings)
                       : TakeSelector::decide(analysis.transcript, script, draft.splitterSilences,
                                              levels, settings);

  draft.cutList = cutFromDecision(analysis, draft.silences, draft.splitterSilences,
                                  draft.decision.removals, settings);
  return draft;
}

CutList cutFromDecision(const Analysis& analysis, const std::vector<SilenceSpan>& silences,
                        const std::vector<SilenceSpan>& splitterSilences,
                        const std::vector<Segment>& removals, const PipelineSettings& settings) {
  const std::vector<TimeRange> manualKeeps =
      settings.manualKeepRanges.value_or(std::vector<TimeRange>{});
  const std::vector<TimeRange> manualRemovals =
      settings.manualRemoveRanges.value_or(std::vector<TimeRange>{});
  EditPlanner::CutMaterial material;
  material.sourceDuration = analysis.source.durationSeconds;
  material.frameDuration = analysis.source.frameDuration.seconds();
  material.silences = silences;
  material.splitterSilences = splitterSilences;
  material.removals = removals;
  material.words = analysis.transcript.words;
  material.levels = analysis.levels;
  material.settings = settings;
  material.manualKeeps = manualKeeps;
  material.manualRemovals = manualRemovals;
  return EditPlanner::planCut(material);
}

}  // namespace kestrane::Pipeline
