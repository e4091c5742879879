// The re-cut entry: a stored session cut again with new settings, hand edits or project
// details, without probing, decoding or transcribing again.
#include <filesystem>
#include <string_view>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/pipeline/RecutPlace.hpp"

namespace kestrane::Pipeline {

namespace fs = std::filesystem;

namespace {

// The new settings, except that hand edits and caption choices they leave open keep their
// stored values.
PipelineSettings mergedSettings(PipelineSettings given, const PipelineSettings& stored) {
  if (!given.manualKeepRanges) given.manualKeepRanges = stored.manualKeepRanges;
  if (!given.manualRemoveRanges) given.manualRemoveRanges = stored.manualRemoveRanges;
  if (!given.subtitleLength) given.subtitleLength = stored.subtitleLength;
  if (!given.embedCaptions) given.embedCaptions = stored.embedCaptions;
  return given;
}

}  // namespace

Output recut(const fs::path& sessionURL, const PipelineSettings& settings, bool renderMP4,
             bool useClaude, const std::optional<std::string>& projectName,
             const std::optional<std::string>& projectNotes,
             std::optional<bool> createMotionGraphics, bool renderGraphics,
             const std::optional<BrandSpec>& brandSpec,
             const std::optional<std::string>& graphicsNotes, bool dropScript,
             const ProgressCallback& progress, std::stop_token stop) {
  const fs::path sessionPath = fs::absolute(sessionURL);
  KestraneSession session = KestraneSession::read(sessionPath);

  if (auto name = trimmedOrAbsent(projectName)) session.projectName = *name;
  if (dropScript) session.script.reset();
  if (projectNotes) session.projectNotes = trimmedOrAbsent(projectNotes);
  if (createMotionGraphics) {
    session.createMotionGraphics = *createMotionGraphics ? std::optional(true) : std::nullopt;
  }
  if (brandSpec) session.brandSpec = brandSpec;
  if (graphicsNotes) session.graphicsNotes = trimmedOrAbsent(graphicsNotes);

  if (!session.transcript) {
    throw PipelineError::sessionNotRecuttable(
        "no transcript stored — run the full pipeline once first");
  }
  std::error_code ec;
  if (!fs::exists(session.source.path, ec)) {
    throw PipelineError::sessionNotRecuttable("source media missing at " + session.source.path);
  }

  session.settings = mergedSettings(settings, session.settings);
  session.source.frameDuration =
      RationalTime::standardFrameDuration(1.0 / session.source.frameDuration.seconds());

  if (!session.levels) {
    if (progress) progress(Stage::detectingSilence);
    if (stop.stop_requested()) throw Cancelled();
    AudioAnalyzer::LevelTrack track;
    try {
      track = AudioAnalyzer::measureLevels(session.source.path,
                                           [&stop] { return stop.stop_requested(); });
    } catch (...) {
      if (stop.stop_requested()) throw Cancelled();
      throw;
    }
    session.levels = LevelData::fromLevels(track.hopDuration, track.levelsDBFS);
  }
  if (stop.stop_requested()) throw Cancelled();

  const detail::PackagePlace place = detail::recutPackagePlace(sessionPath, projectName);
  return detail::decideAndExport(session, place, renderMP4, useClaude, renderGraphics, {},
                                 progress, stop);
}

}  // namespace kestrane::Pipeline
