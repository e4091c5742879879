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

double chosenThreshold(std::optional<double> fixedDBFS, SilenceSensitivity sensitivity,
                       const LevelData& levels) {
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

std::filesystem::path sessionFileFor(const std::filesystem::path& sessionOrPackage) {
  std::error_code ec, entryError;
  if (!std::filesystem::exists(sessionOrPackage, ec)) {
    throw PipelineError(
        fmt::format("No session file or package folder at {}.", sessionOrPackage.string()));
  }
  if (!std::filesystem::is_directory(sessionOrPackage, ec)) return sessionOrPackage;
  constexpr std::string_view suffix = ".kestrane.json";
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(sessionOrPackage, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        entry.is_regular_file(entryError)) {
      found.push_back(entry.path());
    }
  }
  if (ec) {
    throw PipelineError(
        fmt::format("Can't read the folder {} — {}.", sessionOrPackage.string(), ec.message()));
  }
  if (found.empty()) {
    throw PipelineError(fmt::format("No session file (.kestrane.json) in {} — is it a package?",
                                    sessionOrPackage.string()));
  }
  if (found.size() > 1) {
    throw PipelineError(fmt::format("{} holds several session files — name the one to re-cut.",
                                    sessionOrPackage.string()));
  }
  return found.front();
}

}  // namespace kestrane::Pipeline
