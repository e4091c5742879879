#include "app/core/JobModel.hpp"

#include <QUndoStack>

#include <algorithm>

#include "app/core/ErrorText.hpp"
#include "app/core/Paths.hpp"
#include "app/core/RecentSessions.hpp"
#include "kestrane/pipeline/CutChoices.hpp"

namespace kestrane::app {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::optional<std::string> textOrAbsent(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  return text.toStdString();
}

// Waits for the pre-analysis without outliving a stop request; none when it failed.
std::optional<Pipeline::Analysis> awaitAnalysis(const std::shared_future<Pipeline::Analysis>& pending,
                                                const std::stop_token& stop) {
  while (pending.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    if (stop.stop_requested()) return std::nullopt;
  }
  try {
    return pending.get();
  } catch (...) {
    return std::nullopt;  // the run analyses the footage itself
  }
}

}  // namespace

JobModel::JobModel(std::shared_ptr<EngineApi> engine, std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      settings_(settings ? std::move(settings) : std::make_unique<QSettings>()),
      editHistory_(new QUndoStack(this)) {
  recentSessionPaths_ = RecentSessions::read(*settings_, RecentSessions::singleCutsKey);
  recentBatchPaths_ = RecentSessions::read(*settings_, RecentSessions::lastBatchKey);
  setUpAudition();
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

JobModel::CutRequest JobModel::cutRequest() const {
  CutRequest cut;
  Pipeline::Request& request = cut.request;
  request.input = toPath(footagePath_);
  if (!scriptPath_.isEmpty()) request.scriptURL = toPath(scriptPath_);
  request.projectName = textOrAbsent(projectName_.trimmed());
  // A batch's videos are cut without notes: the notes came with one reopened cut.
  if (batch_.size() < 2) request.projectNotes = textOrAbsent(projectNotes_.trimmed());
  request.renderMP4 = options_.renderMP4;
  request.settings = currentSettings();
  // Without levels yet the threshold is still the starting one: it is measured from the
  // analysis the cut waits for, as the command line does.
  if (levelsDBFS_.empty()) cut.measureThreshold = sensitivity_;
  return cut;
}

Pipeline::Request JobModel::CutRequest::over(const std::optional<Pipeline::Analysis>& analysis) const {
  Pipeline::Request measured = request;
  if (analysis && measureThreshold) {
    measured.settings.silenceThresholdDBFS = thresholdDBFS(*measureThreshold, analysis->levels.levelsDBFS());
  }
  return measured;
}

void JobModel::start() {
  if (footagePath_.isEmpty() || sourceMissing_ || state_.screen == Screen::running) return;
  stopAudition();
  openingWarnings_.clear();  // the cut's own report says what it finds
  packageMayBeMixed_ = false;
  const CutRequest cut = cutRequest();
  const Pipeline::Request& request = cut.request;
  const PipelineSettings& settings = request.settings;
  // A script attached while re-cutting is one the stored session never read: the footage is cut
  // afresh against it, over the stored analysis when there is one, into a new package. The
  // script the last cut read, still attached, re-cuts the package in place.
  const bool newScript = isRecut_ && !scriptPath_.isEmpty() && scriptPath_ != sessionScriptPath_;
  const bool recut = isRecut_ && !lastSessionPath_.isEmpty() && !newScript;
  const QString name = projectName_.trimmed();

  Pipeline::RecutRequest call;
  if (recut) {
    call.sessionURL = toPath(lastSessionPath_);
    call.settings = settings;
    call.renderMP4 = options_.renderMP4;
    // Passing the stored name again would move a renamed or copied package into a new folder.
    if (name != storedProjectName_.trimmed()) call.projectName = textOrAbsent(name);
    call.projectNotes = projectNotes_.trimmed().toStdString();
    call.dropScript = dropStoredScript_;
    call.createMotionGraphics = false;
  }

  // A missing file or a folder that can't take the package fails now, not after the analysis.
  if (!recut) {
    try {
      engine_->checkInputs(request);
    } catch (const Pipeline::InputError& e) {
      return setState(JobState::failed(QString::fromStdString(e.what())));
    }
  }

  std::shared_future<Pipeline::Analysis> pending;
  if (!recut && preAnalysisInput_ == footagePath_) {
    pending = preAnalysis_;
  } else if (newScript && draftInput_ && !draftInput_->transcript.words.empty()) {
    std::promise<Pipeline::Analysis> stored;
    stored.set_value(*draftInput_);
    pending = stored.get_future().share();
  }

  const auto started = std::chrono::steady_clock::now();
  const std::uint64_t generation = ++cutGeneration_;
  setState(JobState::running(recut || pending.valid() ? Pipeline::Stage::decidingEdits : Pipeline::Stage::probing));

  Pipeline::ProgressCallback progress = runningProgress(generation);
  background_.start(
      [this, engine = engine_, cut, call, recut, pending, progress, generation, started](std::stop_token stop) {
        try {
          bool usedPreAnalysis = false;
          Pipeline::Output output;
          if (recut) {
            output = engine->recut(call, progress, stop);
          } else if (!pending.valid()) {
            output = engine->run(cut.request, std::nullopt, progress, stop);
          } else {
            progress(Pipeline::Stage::transcribing);
            const std::optional<Pipeline::Analysis> analysis = awaitAnalysis(pending, stop);
            usedPreAnalysis = analysis.has_value();
            output = engine->run(cut.over(analysis), analysis, progress, stop);
          }
          postTo(this, [this, generation, output = std::move(output), usedPreAnalysis, started] {
            finishCut(generation, output, usedPreAnalysis, started);
          });
        } catch (...) {
          postTo(this, [this, generation, error = std::current_exception()] { failCut(generation, error); });
        }
      });
}

void JobModel::finishCut(std::uint64_t generation, Pipeline::Output output, bool usedPreAnalysis,
                         std::chrono::steady_clock::time_point started) {
  if (generation != cutGeneration_ || state_.screen != Screen::running) return;
  lastSessionPath_ = fromPath(output.sessionURL);
  rememberSession(lastSessionPath_);
  isRecut_ = false;
  dropStoredScript_ = false;
  sessionHasScript_ = output.session.script.has_value();
  sessionScriptPath_ = sessionHasScript_ ? scriptPath_ : QString();
  storedProjectName_ = projectName_;
  lastCutDuration_ = secondsSince(started);
  lastPreAnalysisDuration_ = usedPreAnalysis ? preAnalysisDuration_ : std::nullopt;
  emit changed();
  setState(JobState::done(std::move(output)));
}

Pipeline::ProgressCallback JobModel::runningProgress(std::uint64_t generation) {
  // Stages and the result travel the same queued path, so they arrive in the order sent. The
  // checklist shows no fractions, so a stage's later reports (one per rendered frame) stay on
  // the worker.
  auto lastLabel = std::make_shared<std::string>();
  return [this, generation, lastLabel](const Pipeline::Stage& stage) {
    if (stage.fraction && stage.rawValue == *lastLabel) return;
    *lastLabel = stage.rawValue;
    postTo(this, [this, generation, stage] {
      if (generation != cutGeneration_ || state_.screen != Screen::running) return;
      setState(JobState::running(stage));
    });
  };
}

void JobModel::failCut(std::uint64_t generation, std::exception_ptr error) {
  if (generation != cutGeneration_ || state_.screen != Screen::running) return;
  isRecut_ = false;
  emit changed();
  setState(JobState::failed(errorText(error), failureNotes(error)));
}

void JobModel::adjustAndRecut() {
  if (lastSessionPath_.isEmpty()) return reset();
  isRecut_ = true;
  recheckPackageFootage();
  emit changed();
  setState(JobState::configuring());
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
  sessionHasScript_ = dropStoredScript_ = isRecut_ = false;
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
  packageMayBeMixed_ = false;
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
            adoptAnalysis(std::move(analysis));
            refreshThreshold();
            refreshDraftCuts();
          });
        } catch (...) {
          promise->set_exception(std::current_exception());
          if (stop.stop_requested()) return;
          postTo(this, [this, generation, message = errorText(std::current_exception())] {
            if (generation != preAnalysisGeneration_) return;
            preAnalysisState_ = PreAnalysisState::failed;
            preAnalysisFailure_ = message;
            emit changed();
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
  preAnalysisDuration_.reset();
}

void JobModel::refreshThreshold() {
  if (levelsDBFS_.empty()) return;
  silenceThreshold_ = thresholdDBFS(sensitivity_, levelsDBFS_);
}

}  // namespace kestrane::app
