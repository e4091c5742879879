// The job model's batch: several videos, each with its own options and hand edits, analysed one
// after another in the background, cut one after another, remembered, rebuilt from their
// session files and brought into the editor as one timeline.
#include <QDateTime>
#include <QFileInfo>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <future>

#include "app/core/BatchImport.hpp"
#include "app/core/ErrorText.hpp"
#include "app/core/FileKinds.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "app/core/RecentSessions.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::app {

namespace {

constexpr double defaultThresholdDBFS = -40;

// An item of a rebuilt batch: the session's choices, no result, cut again from the start.
BatchItem itemFromSession(const KestraneSession& session, bool renderMP4) {
  BatchItem item;
  const QString source = fromPath(session.source.path);
  item.footagePath = source;
  item.projectName = session.projectName ? QString::fromStdString(*session.projectName) : FileKinds::baseName(source);
  // An earlier build's analysis, counted by samples, would be cut as if on the file's clock: the
  // queue listens to that footage afresh.
  if (session.levels && session.transcript && session.soundTiming == SoundTiming::timestamps) {
    item.analysis = std::make_shared<const Pipeline::Analysis>(
        Pipeline::Analysis{session.source, *session.levels, *session.transcript, {}});
  }
  const PipelineSettings& stored = session.settings;
  item.options = JobModel::storedOptions(stored, renderMP4);
  item.manualKeeps = stored.manualKeepRanges.value_or(std::vector<TimeRange>{});
  item.manualRemovals = stored.manualRemoveRanges.value_or(std::vector<TimeRange>{});
  return item;
}

}  // namespace

CutTightness JobModel::nearestTightness(double padding) {
  CutTightness best = CutTightness::relaxed;
  for (CutTightness t : {CutTightness::natural, CutTightness::tight, CutTightness::jumpCut}) {
    if (std::abs(speechPadding(t) - padding) < std::abs(speechPadding(best) - padding)) best = t;
  }
  return best;
}

CutOptions JobModel::storedOptions(const PipelineSettings& stored, bool renderMP4) {
  CutOptions options;
  options.tightness = nearestTightness(stored.speechPadding);
  options.thoroughness =
      stored.resolvedThoroughness() == Thoroughness::silencesOnly ? Thoroughness::silencesOnly : Thoroughness::balanced;
  options.removeFillers = stored.removeFillers;
  options.embedCaptions = stored.resolvedEmbedCaptions();
  options.subtitleLength = stored.resolvedSubtitleLength();
  options.exportTarget = stored.resolvedExportTarget();
  options.renderMP4 = renderMP4;
  return options;
}

void JobModel::setBatchImportError(std::optional<QString> message) {
  batchImportError_ = std::move(message);
  emit changed();
}

bool JobModel::batchFinished() const {
  if (batch_.size() < 2) return false;
  return std::all_of(batch_.begin(), batch_.end(), [](const BatchItem& item) { return item.output || item.failure; });
}

int JobModel::reopenableBatchCount() const {
  const auto present = std::count_if(recentBatchPaths_.begin(), recentBatchPaths_.end(),
                                     [](const QString& path) { return QFileInfo::exists(path); });
  return present > 1 ? static_cast<int>(present) : 0;
}

void JobModel::forgetBatch() {
  ++batchGeneration_;
  batchAnalysisStop_.request_stop();
  batchAnalysisStop_ = std::stop_source(std::nostopstate);
  batchAnalysing_ = QUuid();
  batchAnalysisPending_ = {};
  batch_.clear();
  batchIndex_ = 0;
  batchStageLabel_.reset();
  batchImportError_.reset();
}

void JobModel::replaceBatch(std::vector<BatchItem> items) {
  forgetBatch();
  // The single video's analysis has no reader any more.
  cancelPreAnalysis();
  batch_ = std::move(items);
  setFootageProblem(std::nullopt);
  sessionHasScript_ = dropStoredScript_ = isRecut_ = false;
  lastSessionPath_.clear();
  storedProjectName_.clear();
}

void JobModel::startBatch(const QStringList& videos) {
  // Another video's levels and hand edits never carry over to the first one.
  if (videos.front() != footagePath_) forgetFootage();
  // Named after its file like the others (and like a single video), never left blank or
  // carrying the previous video's name.
  projectName_ = FileKinds::baseName(videos.front());
  std::vector<BatchItem> items;
  for (const QString& video : videos) {
    BatchItem item;
    item.footagePath = video;
    item.projectName = FileKinds::baseName(video);
    item.options = options_;
    items.push_back(std::move(item));
  }
  replaceBatch(std::move(items));
  batchIndex_ = 0;
  setState(JobState::configuring());
  // The first item takes what the editor holds: a script dropped with the videos is its own.
  selectBatchItem(0);
  runBatchAnalysisQueue();
}

void JobModel::stashCurrentBatchItem() {
  if (batch_.size() < 2 || batchIndex_ < 0 || batchIndex_ >= static_cast<int>(batch_.size())) return;
  BatchItem& item = batch_[static_cast<std::size_t>(batchIndex_)];
  item.projectName = projectName_;
  item.scriptPath = scriptPath_;
  item.options = options_;
  item.manualKeeps = manualKeeps_;
  item.manualRemovals = manualRemovals_;
}

void JobModel::selectBatchItem(int index) {
  if (index < 0 || index >= static_cast<int>(batch_.size())) return;
  // The video left is not heard over the one shown.
  stopAudition();
  stashCurrentBatchItem();
  // Every path here shows another video (or reloads this one): no step may act on it.
  editHistory_->clear();
  batchIndex_ = index;
  const BatchItem& item = batch_[static_cast<std::size_t>(index)];
  footagePath_ = item.footagePath;
  projectName_ = item.projectName;
  scriptPath_ = item.scriptPath;
  options_ = item.options;
  manualKeeps_ = item.manualKeeps;
  manualRemovals_ = item.manualRemovals;
  setFootageProblem(std::nullopt);
  // A look at the video left says nothing of this one.
  cancelFootageLook();
  if (!item.analysis) {
    judged_.reset();
    footageDescription_.reset();
    preAnalysisState_ = item.analysisFailed ? PreAnalysisState::failed : PreAnalysisState::working;
    preAnalysisFailure_.clear();
    levelsDBFS_.clear();
    setAnalysisTranscript(std::nullopt);
    draftInput_.reset();
    // Until this video's levels are in, its cut uses the starting threshold, not the last
    // video's.
    silenceThreshold_ = defaultThresholdDBFS;
  } else {
    preAnalysisState_ = PreAnalysisState::ready;
    preAnalysisFailure_.clear();
    adoptAnalysis(*item.analysis);
    refreshThreshold();
  }
  refreshDraftCuts();
}

void JobModel::applySettingsToAllBatchItems() {
  stashCurrentBatchItem();
  if (batchIndex_ < 0 || batchIndex_ >= static_cast<int>(batch_.size())) return;
  for (BatchItem& item : batch_) item.options = options_;
  emit changed();
}

void JobModel::runBatchAnalysisQueue() {
  const std::uint64_t generation = batchGeneration_;
  const int count = static_cast<int>(batch_.size());
  postTo(this, [this, generation, count] { analyseBatchItem(generation, 0, count); });
}

void JobModel::analyseBatchItem(std::uint64_t generation, int index, int count) {
  // A replaced batch's queue stops here.
  if (generation != batchGeneration_) return;
  for (; index < count; ++index) {
    if (index >= static_cast<int>(batch_.size())) return;
    const BatchItem& item = batch_[static_cast<std::size_t>(index)];
    if (!item.analysis && !item.analysisFailed) break;
  }
  if (index >= count) return;
  const BatchItem& item = batch_[static_cast<std::size_t>(index)];
  const QUuid id = item.id;
  const QString footage = item.footagePath;
  auto promise = std::make_shared<std::promise<std::shared_ptr<const Pipeline::Analysis>>>();
  batchAnalysing_ = id;
  batchAnalysisPending_ = promise->get_future().share();

  // The outcome reaches only the item it was made for, found again by its identity.
  auto settle = [this, generation, index, count, id, footage](std::shared_ptr<const Pipeline::Analysis> found) {
    if (generation != batchGeneration_) return;
    batchAnalysing_ = QUuid();
    batchAnalysisPending_ = {};
    if (index < static_cast<int>(batch_.size()) && batch_[static_cast<std::size_t>(index)].id == id) {
      BatchItem& item = batch_[static_cast<std::size_t>(index)];
      const bool inEditor = batchIndex_ == index && footagePath_ == footage;
      if (found) {
        item.analysis = found;
        if (inEditor) {
          preAnalysisState_ = PreAnalysisState::ready;
          adoptAnalysis(*found);
          refreshThreshold();
          refreshDraftCuts();
        }
      } else {
        item.analysisFailed = true;
        if (inEditor) {
          preAnalysisState_ = PreAnalysisState::failed;
          preAnalysisFailure_.clear();
        }
      }
      emit changed();
    }
    analyseBatchItem(generation, index + 1, count);
  };
  batchAnalysisStop_ = background_.start([this, engine = engine_, footage, settle, promise](std::stop_token stop) {
    std::shared_ptr<const Pipeline::Analysis> found;
    try {
      found = std::make_shared<const Pipeline::Analysis>(engine->analyze(toPath(footage), {}, stop));
    } catch (...) {
      // The error itself is not shown: the cut analyses the footage again and reports it.
    }
    // Posted before the promise is kept: a cut waiting on it posts its own outcome only
    // after this one, so Cut All finds the queue already on the next video.
    postTo(this, [settle, found] { settle(found); });
    promise->set_value(std::move(found));
  });
}

void JobModel::cutAll() {
  if (batch_.size() < 2 || state_.screen == Screen::running) return;
  stopAudition();
  cancelFootageLook();
  stashCurrentBatchItem();
  const auto started = std::chrono::steady_clock::now();
  setState(JobState::running(Pipeline::Stage::probing));
  const std::uint64_t generation = batchGeneration_;
  const int count = static_cast<int>(batch_.size());
  postTo(this, [this, generation, count, started] { cutBatchItem(generation, 0, count, started); });
}

void JobModel::cutBatchItem(std::uint64_t generation, int index, int count,
                            std::chrono::steady_clock::time_point started) {
  // Starting over or a new batch ends the run; the cut under way has nothing left to update.
  if (generation != batchGeneration_ || state_.screen != Screen::running) return;
  for (; index < count && index < static_cast<int>(batch_.size()); ++index) {
    if (!batch_[static_cast<std::size_t>(index)].output) break;
  }
  if (index >= count || index >= static_cast<int>(batch_.size())) return finishBatchCut(started);

  selectBatchItem(index);
  const BatchItem& item = batch_[static_cast<std::size_t>(index)];
  batchStageLabel_ = QStringLiteral("Video %1 of %2 \u2014 %3")
                         .arg(QString::number(index + 1), QString::number(batch_.size()), item.projectName);
  emit changed();

  // The editor holds this item now: its request is built as a single cut's.
  const CutRequest call = cutRequest();
  std::optional<Pipeline::Analysis> prepared;
  if (item.analysis) prepared = *item.analysis;
  std::shared_future<std::shared_ptr<const Pipeline::Analysis>> pending;
  if (!item.analysis && batchAnalysing_ == item.id) pending = batchAnalysisPending_;

  const std::uint64_t cut = ++cutGeneration_;
  const QUuid id = item.id;
  Pipeline::ProgressCallback progress = runningProgress(cut);
  auto settle = [this, generation, index, count, started, cut, id](
                    std::optional<Pipeline::Output> output, QString failure, std::optional<Pipeline::Analysis> fresh) {
    if (generation != batchGeneration_ || cut != cutGeneration_) return;
    if (index < static_cast<int>(batch_.size()) && batch_[static_cast<std::size_t>(index)].id == id) {
      BatchItem& item = batch_[static_cast<std::size_t>(index)];
      if (fresh) {
        // Another recording was at its path: what is known of the video is now of that one.
        item.analysis = std::make_shared<const Pipeline::Analysis>(std::move(*fresh));
        item.manualKeeps.clear();
        item.manualRemovals.clear();
        if (batchIndex_ == index) {
          manualKeeps_.clear();
          manualRemovals_.clear();
          adoptAnalysis(*item.analysis);
          refreshThreshold();
        }
      }
      if (output) {
        rememberSession(fromPath(output->sessionURL));
        item.output = std::move(output);
      } else {
        item.failure = failure;
      }
    }
    cutBatchItem(generation, index + 1, count, started);
  };
  background_.start([this, engine = engine_, call, prepared = std::move(prepared), pending, progress,
                     settle](std::stop_token stop) mutable {
    try {
      engine->checkInputs(call.request);
      if (pending.valid()) {
        // The queue is analysing this video right now: its result serves the cut too.
        progress(Pipeline::Stage::transcribing);
        while (pending.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
          if (stop.stop_requested()) throw Cancelled();
        }
        if (const auto found = pending.get()) prepared = *found;
      }
      std::optional<Pipeline::Analysis> fresh;
      Pipeline::Output output;
      if (prepared && !stillOfFootage(*engine, *prepared, stop)) {
        // Another recording is at the video's path now: it is listened to as the new footage it is.
        progress(Pipeline::Stage::probing);
        fresh = engine->analyze(call.request.input, progress, stop);
        output = engine->run(call.renewed().over(fresh), fresh, progress, stop);
      } else {
        output = engine->run(call.over(prepared), prepared, progress, stop);
      }
      postTo(this, [settle, output = std::move(output), fresh = std::move(fresh)]() mutable {
        settle(std::move(output), {}, std::move(fresh));
      });
    } catch (...) {
      postTo(this,
             [settle, message = errorText(std::current_exception())] { settle(std::nullopt, message, std::nullopt); });
    }
  });
}

void JobModel::finishBatchCut(std::chrono::steady_clock::time_point started) {
  batchStageLabel_.reset();
  lastCutDuration_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  lastPreAnalysisDuration_.reset();
  rememberBatch();
  emit changed();
  const auto finished =
      std::find_if(batch_.begin(), batch_.end(), [](const BatchItem& item) { return item.output.has_value(); });
  if (finished != batch_.end()) return setState(JobState::done(*finished->output));
  const auto failed =
      std::find_if(batch_.begin(), batch_.end(), [](const BatchItem& item) { return item.failure.has_value(); });
  setState(JobState::failed(failed != batch_.end() ? *failed->failure : QStringLiteral("No videos could be cut")));
}

void JobModel::rememberBatch() {
  QStringList paths;
  for (const BatchItem& item : batch_) {
    if (item.output) paths << fromPath(item.output->sessionURL);
  }
  if (paths.size() < 2) return;
  recentBatchPaths_ = paths;
  RecentSessions::write(*settings_, RecentSessions::lastBatchKey, recentBatchPaths_);
}

void JobModel::reopenLastBatch() {
  if (state_.screen == Screen::running) return;
  stopAudition();
  std::vector<BatchItem> items;
  for (const QString& path : recentBatchPaths_) {
    try {
      items.push_back(itemFromSession(KestraneSession::read(toPath(path)), options_.renderMP4));
    } catch (const std::exception&) {
      // A moved or damaged session file is passed over; the rest still make a batch.
    }
  }
  if (items.size() < 2) {
    dropMessage_ = QStringLiteral(
        "That batch\u2019s session files aren\u2019t where they were \u2014 open the packages one "
        "at a time instead.");
    emit changed();
    return;
  }
  dropMessage_.reset();
  replaceBatch(std::move(items));
  // Nothing of the editor belongs to the first item yet, so nothing is saved into it.
  batchIndex_ = -1;
  setState(JobState::configuring());
  selectBatchItem(0);
  runBatchAnalysisQueue();
}

QString JobModel::batchImportAllPath() {
  std::vector<Pipeline::Output> outputs;
  for (const BatchItem& item : batch_) {
    if (item.output) outputs.push_back(*item.output);
  }
  const QString path = BatchImport::write(outputs, BatchImport::folder(), QDateTime::currentDateTimeUtc());
  if (batchImportError_) setBatchImportError(std::nullopt);
  return path;
}

}  // namespace kestrane::app
