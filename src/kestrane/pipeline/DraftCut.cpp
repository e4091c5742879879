#include "kestrane/pipeline/DraftCut.hpp"

#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/brain/EditPlanner.hpp"

namespace kestrane::Pipeline {

DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script,
                  const PipelineSettings& settings) {
  DraftCache cache;
  return draftCut(analysis, script, settings, cache);
}

DraftCut draftCut(const Analysis& analysis, const std::optional<std::string>& script, const PipelineSettings& settings,
                  DraftCache& cache) {
  std::vector<float> levelsDBFS;
  {
    std::lock_guard lock(cache.mutex_);
    if (!cache.levels_) cache.levels_ = analysis.levels.levelsDBFS();
    levelsDBFS = *cache.levels_;
  }
  const AudioAnalyzer::LevelTrack track{std::move(levelsDBFS), analysis.levels.hopDuration};
  DraftCut draft;
  draft.silences = AudioAnalyzer::silences(track, settings.silenceThresholdDBFS, settings.minSilenceDuration);
  draft.splitterSilences = AudioAnalyzer::silences(track, settings.silenceThresholdDBFS, kSplitterMinSilence);

  // The decision reads only these of its inputs besides the analysis itself.
  DraftCache::Decided key{script,
                          draft.splitterSilences,
                          settings.thoroughness == Thoroughness::silencesOnly,
                          settings.removeFillers,
                          settings.dedupRepeatedLines,
                          {}};
  std::optional<TakeSelector::Decision> reused;
  {
    std::lock_guard lock(cache.mutex_);
    const auto& d = cache.decided_;
    if (d && d->script == key.script && d->silencesOnly == key.silencesOnly && d->removeFillers == key.removeFillers &&
        d->dedupRepeatedLines == key.dedupRepeatedLines && d->splitterSilences == key.splitterSilences) {
      reused = d->decision;
    }
  }
  const std::optional<LevelData> levels = analysis.levels;
  if (reused) {
    draft.decision = std::move(*reused);
  } else {
    if (key.silencesOnly) {
      draft.decision = TakeSelector::fillersOnly(analysis.transcript, settings);
    } else {
      std::optional<TakeSelector::Decision> before;
      {
        std::lock_guard lock(cache.mutex_);
        const auto& b = cache.beforeFillers_;
        if (b && b->script == key.script && b->dedupRepeatedLines == key.dedupRepeatedLines &&
            b->splitterSilences == key.splitterSilences) {
          before = b->decision;
        }
      }
      if (!before) {
        before =
            TakeSelector::decideBeforeFillers(analysis.transcript, script, draft.splitterSilences, levels, settings);
        std::lock_guard lock(cache.mutex_);
        cache.beforeFillers_ =
            DraftCache::BeforeFillers{key.script, key.splitterSilences, key.dedupRepeatedLines, *before};
      }
      draft.decision = TakeSelector::withFillers(std::move(*before), analysis.transcript, settings);
    }
    key.decision = draft.decision;
    std::lock_guard lock(cache.mutex_);
    cache.decided_ = std::move(key);
  }

  draft.cutList = cutFromDecision(analysis, draft.silences, draft.splitterSilences, draft.decision.removals, settings);
  return draft;
}

CutList cutFromDecision(const Analysis& analysis, const std::vector<SilenceSpan>& silences,
                        const std::vector<SilenceSpan>& splitterSilences, const std::vector<Segment>& removals,
                        const PipelineSettings& settings) {
  const std::vector<TimeRange> manualKeeps = settings.manualKeepRanges.value_or(std::vector<TimeRange>{});
  const std::vector<TimeRange> manualRemovals = settings.manualRemoveRanges.value_or(std::vector<TimeRange>{});
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
