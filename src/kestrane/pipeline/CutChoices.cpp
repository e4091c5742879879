#include "kestrane/pipeline/CutChoices.hpp"

#include <fmt/format.h>

#include <string_view>
#include <vector>

#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline {

namespace {
template <class Choices>
void applyGraphics(PipelineSettings& s, const Choices& choices) {
  if (choices.graphicsDensity) s.graphicsDensity = choices.graphicsDensity;
  if (choices.graphicsFormat) s.graphicsFormat = choices.graphicsFormat;
  if (choices.graphicsLimit) s.graphicsLimit = choices.graphicsLimit;
}
}  // namespace

double chosenThreshold(std::optional<double> fixedDBFS, SilenceSensitivity sensitivity, const LevelData& levels) {
  return fixedDBFS ? *fixedDBFS : thresholdDBFS(sensitivity, levels.levelsDBFS());
}

PipelineSettings cutSettings(const CutChoices& choices, const LevelData& levels) {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.silenceThresholdDBFS = chosenThreshold(choices.thresholdDBFS, choices.sensitivity, levels);
  s.removeFillers = choices.removeFillers;
  s.dedupRepeatedLines = true;
  s.aiAdjudication = choices.ai;
  s.thoroughness = choices.silencesOnly ? Thoroughness::silencesOnly : choices.thoroughness;
  s.embedCaptions = choices.embedCaptions;
  s.subtitleLength = choices.subtitleLength;
  s.exportTarget = choices.exportTarget;
  s.manualKeepRanges = std::vector<TimeRange>{};
  s.manualRemoveRanges = std::vector<TimeRange>{};
  s.apply(choices.tightness);
  applyGraphics(s, choices);
  return s;
}

PipelineSettings recutSettings(const RecutChoices& choices, const KestraneSession& stored) {
  PipelineSettings s = stored.settings;
  if (choices.tightness) s.apply(*choices.tightness);
  if (choices.ai) s.aiAdjudication = *choices.ai;
  if (choices.thoroughness) s.thoroughness = *choices.thoroughness;
  if (choices.silencesOnly) {
    if (*choices.silencesOnly) {
      s.thoroughness = Thoroughness::silencesOnly;
    } else if (s.thoroughness == Thoroughness::silencesOnly) {
      s.thoroughness = Thoroughness::fast;  // the full cut, as a first cut makes it
    }
  }
  if (choices.removeFillers) s.removeFillers = *choices.removeFillers;
  applyGraphics(s, choices);
  if (choices.exportTarget) s.exportTarget = *choices.exportTarget;
  if (choices.embedCaptions) s.embedCaptions = *choices.embedCaptions;
  if (choices.subtitleLength) s.subtitleLength = *choices.subtitleLength;
  if (choices.thresholdDBFS) {
    s.silenceThresholdDBFS = *choices.thresholdDBFS;
  } else if (choices.sensitivity) {
    if (!stored.levels) {
      throw PipelineError(
          "This session stores no audio levels to measure a sensitivity against — give "
          "--threshold instead.");
    }
    s.silenceThresholdDBFS = thresholdDBFS(*choices.sensitivity, stored.levels->levelsDBFS());
  }
  return s;
}

}  // namespace kestrane::Pipeline
