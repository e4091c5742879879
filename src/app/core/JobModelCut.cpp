// Cut It: the single job, or the re-cut of the stored session, on a worker thread. A cut goes
// over the analysis made while the options were chosen only while that analysis is still of the
// file at the footage's path; a recording saved there since is analysed afresh and cut as the
// new footage it is, and a package's footage that can't be used stops the re-cut before it
// begins.
#include <QUndoStack>

#include "app/core/ErrorText.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/ResultsText.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/platform/MediaFile.hpp"

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
  cut.sensitivity = sensitivity_;
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

JobModel::CutRequest JobModel::CutRequest::renewed() const {
  CutRequest renewed = *this;
  renewed.request.settings.manualKeepRanges = std::vector<TimeRange>{};
  renewed.request.settings.manualRemoveRanges = std::vector<TimeRange>{};
  renewed.measureThreshold = sensitivity;
  return renewed;
}

bool JobModel::stillOfFootage(EngineApi& engine, Pipeline::Analysis& analysis, std::stop_token stop) {
  if (analysis.footage) return analysis.footage->stillAtItsPath();
  const FootageLook look = engine.lookAtFootage(describedBy(analysis), std::move(stop));
  if (!look.proven()) return false;
  analysis.footage = look.file;
  return true;
}

void JobModel::start() {
  if (footagePath_.isEmpty() || sourceMissing_ || state_.screen == Screen::running) return;
  stopAudition();
  // The cut looks at the footage itself; a look under way would only answer for the options.
  cancelFootageLook();
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
    // An earlier build's package the look moved is edited on the file's clock.
    call.editsOnFileClock = !showsCountedTimes();
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
  // A package's footage is looked at before its re-cut: quickly while the file proven is still
  // at its path, else in full.
  std::optional<KestraneSession> packageFootage;
  if (recut || newScript) packageFootage = footageDescription_;

  const auto started = std::chrono::steady_clock::now();
  const std::uint64_t generation = ++cutGeneration_;
  setState(JobState::running(recut || pending.valid() ? Pipeline::Stage::decidingEdits : Pipeline::Stage::probing));

  Pipeline::ProgressCallback progress = runningProgress(generation);
  background_.start([this, engine = engine_, cut, call, recut, pending, packageFootage, judged = judged_, progress,
                     generation, started](std::stop_token stop) {
    try {
      std::shared_ptr<const platform::MediaFile> proven;
      // An earlier build's package the window had not moved yet: where its times lie.
      std::optional<CountedClock> movedBy;
      if (packageFootage) {
        const FootageLook look = lookAgain(*engine, judged, *packageFootage, stop);
        if (!look.proven()) {
          postTo(this, [this, generation, look] { footageUnusableAtCut(generation, look); });
          return;
        }
        proven = look.file;
        if (packageFootage->soundTiming == SoundTiming::countedSamples) movedBy = look.movedBy;
      }
      bool usedPreAnalysis = false;
      std::optional<Pipeline::Analysis> fresh;
      Pipeline::Output output;
      if (recut) {
        output = engine->recut(call, progress, stop);
      } else if (!pending.valid()) {
        output = engine->run(cut.request, std::nullopt, progress, stop);
      } else {
        progress(Pipeline::Stage::transcribing);
        std::optional<Pipeline::Analysis> analysis = awaitAnalysis(pending, stop);
        CutRequest over = cut;
        if (analysis && movedBy) {
          analysis = movedOntoFileClock(std::move(*analysis), *movedBy);
          over.request.settings =
              onFileClock(std::move(over.request.settings), *movedBy, analysis->source.durationSeconds);
        }
        // The stored analysis is of the package's footage, just proven.
        if (analysis && !analysis->footage) analysis->footage = proven;
        if (analysis && !stillOfFootage(*engine, *analysis, stop)) {
          // Another recording is at the path now: it is listened to as the new footage it is.
          progress(Pipeline::Stage::probing);
          fresh = engine->analyze(cut.request.input, progress, stop);
          output = engine->run(cut.renewed().over(fresh), fresh, progress, stop);
        } else {
          usedPreAnalysis = analysis.has_value();
          output = engine->run(over.over(analysis), analysis, progress, stop);
        }
      }
      postTo(this, [this, generation, output = std::move(output), usedPreAnalysis, started,
                    fresh = std::move(fresh)]() mutable {
        finishCut(generation, std::move(output), usedPreAnalysis, started, std::move(fresh));
      });
    } catch (...) {
      postTo(this, [this, generation, error = std::current_exception()] { failCut(generation, error); });
    }
  });
}

void JobModel::finishCut(std::uint64_t generation, Pipeline::Output output, bool usedPreAnalysis,
                         std::chrono::steady_clock::time_point started, std::optional<Pipeline::Analysis> fresh) {
  if (generation != cutGeneration_ || state_.screen != Screen::running) return;
  if (fresh) takeFreshAnalysis(std::move(*fresh));
  cutFromCutOffCopy_ = ResultsText::endsEarlyWarning(output.warnings).has_value();
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

void JobModel::takeFreshAnalysis(Pipeline::Analysis analysis) {
  audition_->forget();
  manualKeeps_.clear();
  manualRemovals_.clear();
  editHistory_->clear();
  cancelFootageLook();
  cancelPreAnalysis();
  preAnalysisInput_ = footagePath_;
  preAnalysisState_ = PreAnalysisState::ready;
  std::promise<Pipeline::Analysis> made;
  made.set_value(analysis);
  preAnalysis_ = made.get_future().share();
  adoptAnalysis(std::move(analysis));
  refreshThreshold();
  refreshDraftCuts();
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

void JobModel::footageUnusableAtCut(std::uint64_t generation, const FootageLook& look) {
  if (generation != cutGeneration_ || state_.screen != Screen::running) return;
  judged_.reset();
  audition_->forget();
  setFootageProblem(footageProblemText(look, OtherRecording::cantBeUsed));
  emit changed();
  setState(JobState::configuring());
}

}  // namespace kestrane::app
