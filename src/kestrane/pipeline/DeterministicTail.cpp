#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

CutList deterministicTail(double sourceDuration, double frameDuration,
                          const std::vector<SilenceSpan>& silences,
                          const std::vector<SilenceSpan>& splitterSilences,
                          const std::vector<Segment>& removals,
                          const std::vector<TranscriptWord>& words,
                          const std::optional<LevelData>& levels, const PipelineSettings& settings,
                          const std::vector<TimeRange>& manualKeeps,
                          const std::vector<TimeRange>& manualRemovals) {
  EditPlanner::CutMaterial material;
  material.sourceDuration = sourceDuration;
  material.frameDuration = frameDuration;
  material.silences = silences;
  material.splitterSilences = splitterSilences;
  material.removals = removals;
  material.words = words;
  material.levels = levels;
  material.settings = settings;
  material.manualKeeps = manualKeeps;
  material.manualRemovals = manualRemovals;
  return EditPlanner::planCut(material);
}

}  // namespace kestrane::Pipeline
