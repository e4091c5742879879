// The re-cut entry: a stored session cut again with new settings, hand edits or project
// details, without decoding or transcribing again: the footage is only heard at a few stretches,
// to know it is still all of the footage the session was cut from.
#include <filesystem>
#include <string_view>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/pipeline/RecutPlace.hpp"
#include "kestrane/platform/MediaFile.hpp"

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

namespace detail {

Output recutSession(const RecutRequest& request, const ProgressCallback& progress, std::stop_token stop,
                    bool secondOpinionRequired) {
  // Reading a session of a long recording takes seconds; the stop is heard inside it.
  const StopScope stopScope(stop);
  const fs::path sessionPath = fs::absolute(request.sessionURL);
  // The package is held, and a move a killed run left finished, before the session is read, so
  // the re-cut changes the package as it stands and no other run changes it meanwhile. Only a
  // folder not named as a package needs the session first, to know whether it holds the
  // timeline of the session's footage; no run changes a session's footage.
  std::optional<KestraneSession> unheld;
  if (!isPackageFolder(sessionPath.parent_path())) unheld = KestraneSession::read(sessionPath);
  const detail::PackagePlace place = detail::recutPackagePlace(
      sessionPath, request.projectName, unheld ? sourceStem(unheld->source.path) : std::string());
  KestraneSession session = unheld && !place.lock ? std::move(*unheld) : KestraneSession::read(sessionPath);
  unheld.reset();
  const PipelineSettings given = request.settingsOver ? request.settingsOver(session) : request.settings;

  if (auto name = trimmedOrAbsent(request.projectName)) session.projectName = *name;
  if (request.dropScript) session.script.reset();
  if (request.projectNotes) session.projectNotes = trimmedOrAbsent(request.projectNotes);
  if (request.createMotionGraphics) {
    session.createMotionGraphics = *request.createMotionGraphics ? std::optional(true) : std::nullopt;
  }
  if (request.brandSpec) session.brandSpec = request.brandSpec;
  if (request.graphicsNotes) session.graphicsNotes = trimmedOrAbsent(request.graphicsNotes);

  if (!session.transcript) {
    throw PipelineError::sessionNotRecuttable("no transcript stored — run the full pipeline once first");
  }
  // The cut is made to the footage the session describes: other footage saved at its path, or a
  // copy of it cut off partway, would get timelines and a movie that misdescribe it. The file
  // proven the footage is the one read from here on, whatever is put at its path meanwhile; a
  // session an earlier build stored has its times moved onto that file's clock.
  ProvenFootage footage = openCutFootage(session, stop);
  // Hand edits given over the stored times move with them.
  const bool moveGiven = footage.movedBy && !request.editsOnFileClock;
  session.settings = mergedSettings(
      moveGiven ? onFileClock(given, *footage.movedBy, session.source.durationSeconds) : given, session.settings);
  session.source.frameDuration = RationalTime::standardFrameDuration(1.0 / session.source.frameDuration.seconds());

  throwIfStopped(stop);

  return decideAndExport(session, std::move(footage.file), place, request.renderMP4, request.useClaude,
                         request.renderGraphics, {}, request.services, progress, stop, secondOpinionRequired);
}

}  // namespace detail

Output recut(const RecutRequest& request, const ProgressCallback& progress, std::stop_token stop) {
  return detail::recutSession(request, progress, stop, false);
}

}  // namespace kestrane::Pipeline
