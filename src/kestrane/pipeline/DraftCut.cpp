#include "kestrane/pipeline/DraftCut.hpp"

#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script,
                  const PipelineSettings& settings) {
  const AudioAnalyzer::LevelTrack track{analysis.levels.levelsDBFS(),
                                        analysis.levels.hopDuration};
  DraftCut draft;
  draft.silences = AudioAnalyzer::silences(track, settings.silenceThresholdDBFS,
                                           settings.minSilenceDuration);
  draft.splitterSilences =
      AudioAnalyzer::silences(track, settings.silenceThresholdDBFS, kSplitterMinSilence);

  const std::optional<LevelData> levels = analysis.levels;
  draft.decision = settings.thoroughness == Thoroughness::silencesOnly
                       ? TakeSelector::fillersOnly(analysis.transcript, settings)
                       : TakeSelector::decide(analysis.transcript, script,
                                              draft.splitterSilences, levels, settings);

  draft.cutList = deterministicTail(
      analysis.source.durationSeconds, analysis.source.frameDuration.seconds(), draft.silences,
      draft.splitterSilences, draft.decision.removals, analysis.transcript.words, levels,
      settings, settings.manualKeepRanges.value_or(std::vector<TimeRange>{}),
      settings.manualRemoveRanges.value_or(std::vector<TimeRange>{}));
  return draft;
}

}  // namespace kestrane::Pipeline
