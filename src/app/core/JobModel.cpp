#include "app/core/JobModel.hpp"

#include <QUndoStack>

#include <algorithm>
#include <utility>

#include "app/core/ErrorText.hpp"
#include "app/core/Paths.hpp"
#include "app/core/RecentSessions.hpp"
#include "kestrane/pipeline/CutChoices.hpp"

namespace kestrane::app {

namespace {

// A look at the footage that takes longer than this is said on the options, with a way to stop it.
constexpr int kLongLookMs = 700;

// Whether `error` says the footage is a recording still being made.
bool stillBeingWritten(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Pipeline::FootageStillBeingWritten&) {
    return true;
  } catch (...) {
    return false;
  }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

JobModel::JobModel(std::shared_ptr<EngineApi> engine, std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      settings_(settings ? std::move(settings) : std::make_unique<QSettings>()),
      footageLookLongTimer_(new QTimer(this)),
      footageWatch_(new FootageWatch(this)),
      editHistory_(new QUndoStack(this)) {
  recentSessionPaths_ = RecentSessions::read(*settings_, RecentSessions::singleCutsKey);
  recentBatchPaths_ = RecentSessions::read(*settings_, RecentSessions::lastBatchKey);
  setUpAudition();
  footageLookLongTimer_->setSingleShot(true);
  footageLookLongTimer_->setInterval(kLongLookMs);
  connect(footageLookLongTimer_, &QTimer::timeout, this, [this] {
    footageLookLong_ = footageLooking_;
    emit changed();
  });
  connect(footageWatch_, &FootageWatch::changed, this, &JobModel::footageChangedOnDisk);
  connect(this, &JobModel::changed, this, &JobModel::watchFootage);
  connect(this, &JobModel::stateChanged, this, &JobModel::watchFootage);
}

JobModel::~JobModel() = default;

void JobModel::setProjectName(const QString& name) {
  projectName_ = name;
  emit changed();
}

void JobModel::setRenderMP4(bool on) {
  options_.renderMP4 = on;
  emit changed();
}

void JobModel::setExportTarget(ExportTarget target) {
  options_.exportTarget = target;
  emit changed();
}

void JobModel::setState(JobState state) {
  state_ = std::move(state);
  emit stateChanged();
}

PipelineSettings JobModel::currentSettings() const {
  Pipeline::CutChoices choices;
  choices.tightness = options_.tightness;
  choices.silencesOnly = options_.thoroughness == Thoroughness::silencesOnly;
  choices.removeFillers = options_.removeFillers;
  choices.exportTarget = options_.exportTarget;
  choices.embedCaptions = options_.embedCaptions;
  choices.subtitleLength = options_.subtitleLength;
  choices.sensitivity = sensitivity_;
  // The threshold already follows the sensitivity and the levels, or was restored as stored.
  choices.thresholdDBFS = silenceThreshold_;
  PipelineSettings settings = Pipeline::cutSettings(choices, LevelData{});
  settings.manualKeepRanges = manualKeeps_;
  settings.manualRemoveRanges = manualRemovals_;
  return settings;
}

std::vector<Pipeline::Stage> JobModel::plannedStages() const {
  using S = Pipeline::Stage;
  std::vector<S> stages;
  for (const S& s : S::allCases()) {
    if (s == S::consultingClaude || s == S::reviewingCut || s == S::generatingIdeas || s == S::preparingGraphics ||
        (s == S::rendering && !options_.renderMP4)) {
      continue;
    }
    stages.push_back(s);
  }
  return stages;
}

void JobModel::adjustAndRecut() {
  if (lastSessionPath_.isEmpty()) return reset();
  isRecut_ = true;
  emit changed();
  setState(JobState::configuring());
  // The footage may be back at its path, or gone from it, since the package was opened.
  lookAtFootage(OtherRecording::cantBeUsed);
}

void JobModel::retryFromFailure() {
  if (footagePath_.isEmpty()) return reset();
  previewFootageAtItsPath();
  emit changed();
  setState(JobState::configuring());
}

void JobModel::reset() {
  ++cutGeneration_;
  forgetBatch();
  footagePath_.clear();
  scriptPath_.clear();
  projectName_.clear();
  storedProjectName_.clear();
  sessionHasScript_ = dropStoredScript_ = isRecut_ = cutFromCutOffCopy_ = false;
  lastSessionPath_.clear();
  sessionScriptPath_.clear();
  lastCutDuration_.reset();
  lastPreAnalysisDuration_.reset();
  cancelPreAnalysis();
  forgetFootage();
  emit changed();
  setState(JobState::idle());
}

void JobModel::forgetFootage() {
  openingWarnings_.clear();
  footageBeingWritten_ = false;
  packageMayBeMixed_ = false;
  cancelFootageLook();
  judged_.reset();
  footageDescription_.reset();
  audition_->forget();
  hoverPlayhead_.reset();
  resumeAuditionAt_.reset();
  edgeDrag_.reset();
  manualKeeps_.clear();
  manualRemovals_.clear();
  projectNotes_.clear();
  levelsDBFS_.clear();
  levelHopDuration_ = 0.01;
  setAnalysisTranscript(std::nullopt);
  // Its edits go with it, and so does every step that would bring them back.
  editHistory_->clear();
  // Another video's threshold never carries over: until this one's levels are in, -40 dBFS.
  silenceThreshold_ = -40;
  draftInput_.reset();
  draftStop_.request_stop();
  ++draftGeneration_;
  silenceBands_.clear();
  draftRemovals_.clear();
  draftBands_.reset();
  draftReasonSegments_.clear();
}

void JobModel::rememberSession(const QString& sessionPath) {
  recentSessionPaths_ = RecentSessions::remembered(recentSessionPaths_, sessionPath);
  RecentSessions::write(*settings_, RecentSessions::singleCutsKey, recentSessionPaths_);
}

void JobModel::checkSpeechModel() {
  background_.start([engine = engine_](std::stop_token) {
    try {
      engine->ensureSpeechModel();
    } catch (...) {
      // A missing model surfaces as the first cut's transcription error.
    }
  });
}

void JobModel::startPreAnalysis(const QString& footage) {
  if (preAnalysisInput_ == footage) return;
  cancelPreAnalysis();
  preAnalysisInput_ = footage;
  preAnalysisState_ = PreAnalysisState::working;
  const std::uint64_t generation = ++preAnalysisGeneration_;
  auto promise = std::make_shared<std::promise<Pipeline::Analysis>>();
  preAnalysis_ = promise->get_future().share();
  emit changed();
  // The sound for playing the cut is read beside the analysis, so the first play never waits
  // for it: Space does nothing until the analysis's levels are in anyway.
  prepareAudition();
  const auto started = std::chrono::steady_clock::now();
  // The generation, not the footage, decides: after "Change…" the same file dropped again
  // starts a new analysis, and the stopped one's end must not show as a failure of it.
  preAnalysisStop_ =
      background_.start([this, engine = engine_, footage, promise, started, generation](std::stop_token stop) {
        try {
          Pipeline::Analysis analysis = engine->analyze(toPath(footage), {}, stop);
          promise->set_value(analysis);
          postTo(this, [this, analysis = std::move(analysis), started, generation]() mutable {
            if (generation != preAnalysisGeneration_) return;
            preAnalysisState_ = PreAnalysisState::ready;
            preAnalysisDuration_ = secondsSince(started);
            footageBeingWritten_ = false;
            adoptAnalysis(std::move(analysis));
            refreshThreshold();
            refreshDraftCuts();
            if (std::exchange(footageChangedWhileAnalysed_, false)) lookAgainAtFootage();
          });
        } catch (...) {
          promise->set_exception(std::current_exception());
          if (stop.stop_requested()) return;
          postTo(this, [this, generation, message = errorText(std::current_exception()),
                        stillWritten = stillBeingWritten(std::current_exception())] {
            if (generation != preAnalysisGeneration_) return;
            preAnalysisState_ = PreAnalysisState::failed;
            preAnalysisFailure_ = message;
            footageBeingWritten_ = stillWritten;
            emit changed();
            if (std::exchange(footageChangedWhileAnalysed_, false)) analyseAgain();
          });
        }
      });
}

void JobModel::cancelPreAnalysis() {
  ++preAnalysisGeneration_;
  preAnalysisStop_.request_stop();
  preAnalysisStop_ = std::stop_source(std::nostopstate);
  preAnalysis_ = {};
  preAnalysisInput_.clear();
  preAnalysisState_ = PreAnalysisState::none;
  preAnalysisFailure_.clear();
  footageChangedWhileAnalysed_ = false;
  preAnalysisDuration_.reset();
}

void JobModel::refreshThreshold() {
  if (levelsDBFS_.empty()) return;
  silenceThreshold_ = thresholdDBFS(sensitivity_, levelsDBFS_);
}

}  // namespace kestrane::app
