// Files reaching the job model: drops, open dialogs, files opened from outside, and reopening
// the packages of earlier cuts.
#include <QUndoStack>

#include <algorithm>
#include <cmath>

#include "app/core/FileKinds.hpp"
#include "app/core/FootageFile.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/pipeline/PackageContents.hpp"

namespace kestrane::app {

namespace {

// The output of an earlier cut, rebuilt from its package; none when the cut cannot be shown.
std::optional<Pipeline::Output> storedOutput(const KestraneSession& session, const Pipeline::PackageContents& package) {
  if (!session.cutList || !package.fcpxml) return std::nullopt;

  Pipeline::Output output;
  output.session = session;
  output.packageDir = package.layout.dir;
  output.fcpxmlURL = *package.fcpxml;
  output.transcriptURL = package.layout.transcript();
  output.captionsURL = package.layout.captions();
  output.sessionURL = package.session;
  output.visualIdeasURL = package.visualIdeas;
  output.mp4URL = package.movie;
  // Offered as this cut's only when the session vouches for that very file and its frames.
  output.mp4ShowsEarlierCut = package.movie && !Pipeline::roughCutShowsStoredCut(session, *package.movie);
  output.graphicsAssets = session.graphicsAssets.value_or(std::vector<GraphicsAsset>{});
  const bool anyRendered = std::any_of(output.graphicsAssets.begin(), output.graphicsAssets.end(),
                                       [](const GraphicsAsset& a) { return !a.failure; });
  if (anyRendered) output.assetsDirURL = package.assetsDir;
  return output;
}

}  // namespace

void JobModel::accept(const QStringList& paths) {
  // A running job is never disturbed by files opened from outside.
  if (state_.screen == Screen::running) return;
  dropMessage_.reset();
  QStringList videos;
  bool sawUsable = false;
  std::optional<QString> unopenable;
  for (const QString& path : paths) {
    if (FileKinds::isStoredCut(path)) {
      emit changed();
      return openSession(path);
    }
    if (FileKinds::isFootage(path)) {
      // A pipe or a device named like footage is never opened.
      if (const auto why = FootageFile::notRegular(path)) {
        unopenable = FootageFile::cantOpen(FileKinds::lastComponent(path), *why) + QLatin1Char('.');
        continue;
      }
      videos << path;
      sawUsable = true;
    } else if (FileKinds::isScript(path)) {
      scriptPath_ = path;
      sawUsable = true;
    }
  }
  if (!sawUsable && !paths.isEmpty()) dropMessage_ = unopenable.value_or(FileKinds::unsupportedFileMessage());
  if (videos.size() >= 2) return startBatch(videos);
  if (!videos.isEmpty()) {
    // One video dropped after a batch replaces it.
    forgetBatch();
    const QString& video = videos.front();
    if (video != footagePath_) {
      forgetFootage();
      // A re-cut armed for the previous video would otherwise cut that video again.
      isRecut_ = false;
      lastSessionPath_.clear();
    }
    footagePath_ = video;
    setFootageProblem(std::nullopt);
    projectName_ = FileKinds::baseName(video);
    storedProjectName_.clear();
    sessionHasScript_ = dropStoredScript_ = false;
  }
  emit changed();
  if (footagePath_.isEmpty()) return;
  setState(JobState::configuring());
  // A script dropped on a batch joins the video shown; the queue analyses the batch's videos.
  if (batch_.size() < 2) startPreAnalysis(footagePath_);
}

void JobModel::openSession(const QString& path) {
  if (state_.screen == Screen::running) return;
  stopAudition();
  Pipeline::OpenedPackage opened;
  try {
    // Its footage is looked at once it is shown, off this thread: hearing it can take seconds.
    opened = Pipeline::readPackage(toPath(path));
  } catch (const Pipeline::NoSessionFound& e) {
    QString message = QStringLiteral("No Kestrane session found in ") + FileKinds::lastComponent(path);
    for (const std::string& warning : e.warnings()) message += QLatin1Char(' ') + QString::fromStdString(warning);
    return setState(JobState::failed(message));
  } catch (const std::exception& e) {
    return setState(JobState::failed(QStringLiteral("Couldn't open session: ") + QString::fromStdString(e.what())));
  }
  const KestraneSession& session = opened.session;
  const Pipeline::PackageContents& package = opened.contents;

  const QString source = fromPath(session.source.path);
  // A reopened package replaces any batch: its results are one cut's.
  forgetBatch();
  if (source != footagePath_) forgetFootage();
  // An analysis of other footage is of no use to this session.
  if (!preAnalysisInput_.isEmpty() && preAnalysisInput_ != source) cancelPreAnalysis();

  const PipelineSettings& stored = session.settings;
  silenceThreshold_ = stored.silenceThresholdDBFS;
  if (session.levels) {
    adoptAnalysis({session.source, *session.levels, session.transcript.value_or(Transcript{})});
    if (!session.transcript) {
      setAnalysisTranscript(std::nullopt);
      draftInput_.reset();
    }
    sensitivity_ = nearestSilenceSensitivity(stored.silenceThresholdDBFS, levelsDBFS_);
  }
  options_ = storedOptions(stored, options_.renderMP4);
  manualKeeps_ = stored.manualKeepRanges.value_or(std::vector<TimeRange>{});
  manualRemovals_ = stored.manualRemoveRanges.value_or(std::vector<TimeRange>{});
  // The edits are the stored cut's now: no step of the editor's history applies to them.
  editHistory_->clear();
  projectNotes_ = QString::fromStdString(session.projectNotes.value_or(""));
  // Until the look says otherwise the package's footage is taken to be there.
  setFootageProblem(std::nullopt);
  // Judged as its re-cut judges it: an earlier build's session by the clock it was counted on.
  footageDescription_ = KestraneSession{};
  footageDescription_->source = session.source;
  footageDescription_->levels = session.levels;
  footageDescription_->soundTiming = session.soundTiming;
  judged_.reset();
  footagePath_ = source;
  scriptPath_.clear();
  sessionScriptPath_.clear();
  sessionHasScript_ = session.script.has_value();
  dropStoredScript_ = cutFromCutOffCopy_ = false;
  projectName_ = session.projectName ? QString::fromStdString(*session.projectName) : FileKinds::baseName(source);
  storedProjectName_ = projectName_;
  lastCutDuration_.reset();
  lastPreAnalysisDuration_.reset();
  const QString sessionFile = fromPath(package.session);
  lastSessionPath_ = sessionFile;
  rememberSession(sessionFile);
  openingWarnings_.clear();
  for (const std::string& warning : package.warnings) openingWarnings_ << QString::fromStdString(warning);
  packageMayBeMixed_ = opened.mayBeMixed;

  std::optional<Pipeline::Output> output = storedOutput(session, package);
  if (!output) isRecut_ = true;
  // Other footage at the footage's path, or something that can't be opened as footage, is
  // treated as no footage there, saying why. Once it is proven the package's, its sound is read
  // ahead, so Space plays at once.
  lookAtFootage(OtherRecording::cantBeUsed);
  refreshDraftCuts();
  setState(output ? JobState::done(std::move(*output)) : JobState::configuring());
}

}  // namespace kestrane::app
