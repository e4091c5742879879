#pragma once
// The one object that holds everything the window shows and everything the user chose: the
// job's state, its inputs, the cut options and what the footage's analysis found. Views read it
// and call its operations; they change nothing themselves. Lives on the window's thread; engine
// work runs on threads of its own and comes back through the event queue.
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>

class QUndoStack;

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "app/core/Audition.hpp"
#include "app/core/Background.hpp"
#include "app/core/BatchItem.hpp"
#include "app/core/CutOptions.hpp"
#include "app/core/EngineApi.hpp"
#include "app/core/FootageWatch.hpp"
#include "app/core/HandEdits.hpp"
#include "app/core/JobState.hpp"
#include "kestrane/analysis/SilenceSensitivity.hpp"

namespace kestrane::app {

class JobModel : public QObject {
  Q_OBJECT

 public:
  // `settings` keeps the recent sessions; by default the application's own settings.
  explicit JobModel(std::shared_ptr<EngineApi> engine, std::unique_ptr<QSettings> settings = {},
                    QObject* parent = nullptr);
  ~JobModel() override;

  // --- state and inputs ---
  const JobState& state() const { return state_; }
  const QString& footagePath() const { return footagePath_; }  // empty: none
  const QString& scriptPath() const { return scriptPath_; }    // empty: none
  const QString& projectName() const { return projectName_; }
  void setProjectName(const QString& name);
  const QString& projectNotes() const { return projectNotes_; }
  const std::optional<QString>& dropMessage() const { return dropMessage_; }
  bool sessionHasScript() const { return sessionHasScript_; }
  bool dropStoredScript() const { return dropStoredScript_; }
  // The footage in the editor can't be played or cut: no file is at the reopened package's
  // footage path, the file there is other footage, or what is there can't be opened as footage.
  // `sourceProblem` says which and what to do.
  bool sourceMissing() const { return sourceMissing_; }
  const QString& sourceProblem() const { return sourceProblem_; }
  // The file at the footage's path is being looked at again, on a thread of its own: a package's
  // footage until it is proven, and the footage in the editor whenever it may have changed.
  bool lookingAtFootage() const { return footageLooking_; }
  // The look under way has gone on long enough to be said (a file read far, past a long tail of
  // zeros, or a slow drive): Play and Cut It wait for it, and it can be stopped.
  bool lookingLong() const { return footageLookLong_; }
  // The last look was stopped before it was done: the footage is looked at again by Play or Cut It.
  bool footageLookStopped() const { return footageLookStopped_; }
  // The last analysis of the footage found it still being written (a recorder still taking).
  bool footageBeingWritten() const { return footageBeingWritten_; }
  // What opening the package found to tell the user (a record of a move set aside), shown until
  // the next cut starts or another video comes in.
  const QStringList& openingWarnings() const { return openingWarnings_; }
  // The package opened may hold parts of two cuts (its opening warnings say so): it is shown as
  // no finished cut, with its re-cut offered first, until the next cut starts.
  bool packageMayBeMixed() const { return packageMayBeMixed_; }
  bool isRecut() const { return isRecut_; }
  const QString& lastSessionPath() const { return lastSessionPath_; }
  std::optional<double> lastCutDuration() const { return lastCutDuration_; }
  std::optional<double> lastPreAnalysisDuration() const { return lastPreAnalysisDuration_; }

  // --- cut options ---
  // The seven options of the video in the editor.
  const CutOptions& cutOptions() const { return options_; }
  bool renderMP4() const { return options_.renderMP4; }
  void setRenderMP4(bool on);
  bool embedCaptions() const { return options_.embedCaptions; }
  void setEmbedCaptions(bool on);
  TranscriptExporter::SubtitleLength subtitleLength() const { return options_.subtitleLength; }
  void setSubtitleLength(TranscriptExporter::SubtitleLength length);
  ExportTarget exportTarget() const { return options_.exportTarget; }
  void setExportTarget(ExportTarget target);
  double silenceThreshold() const { return silenceThreshold_; }
  // The options that shape the cut: every assignment, even of the same value, refreshes the
  // draft.
  bool removeFillers() const { return options_.removeFillers; }
  void setRemoveFillers(bool on);
  CutTightness tightness() const { return options_.tightness; }
  void setTightness(CutTightness tightness);
  Thoroughness thoroughness() const { return options_.thoroughness; }
  void setThoroughness(Thoroughness thoroughness);
  SilenceSensitivity sensitivity() const { return sensitivity_; }
  void setSensitivity(SilenceSensitivity sensitivity);

  // --- what the footage's analysis found, and the hand edits made over it ---
  PreAnalysisState preAnalysisState() const { return preAnalysisState_; }
  const QString& preAnalysisFailure() const { return preAnalysisFailure_; }
  const std::vector<float>& levelsDBFS() const { return levelsDBFS_; }
  double levelHopDuration() const { return levelHopDuration_; }
  const std::optional<Transcript>& analysisTranscript() const { return analysisTranscript_; }
  // Changes whenever another transcript (or none) is published, even one of as many words.
  std::uint64_t transcriptGeneration() const { return transcriptGeneration_; }
  const std::vector<TimeRange>& manualKeeps() const { return manualKeeps_; }
  const std::vector<TimeRange>& manualRemovals() const { return manualRemovals_; }
  ManualEdits manualEdits() const { return {manualKeeps_, manualRemovals_}; }
  bool hasManualEdits() const { return !manualKeeps_.empty() || !manualRemovals_.empty(); }
  // Replaces both lists as they stand (no normalising) and publishes them; playback stops first.
  void setManualEdits(const ManualEdits& edits);
  // Records the change from `before` to the lists now as one "Cut Edit" step on `undo`; an
  // unchanged pair or no stack records nothing.
  void recordEdit(QUndoStack* undo, const ManualEdits& before);
  // The window's history of hand edits. Its steps belong to the video in the editor, so it is
  // emptied whenever the editor shows another video (or another cut of it) or starts over.
  QUndoStack* editHistory() const { return editHistory_; }
  // Drops every hand edit as one step; nothing happens when there are none.
  void clearManualEdits(QUndoStack* undo);

  // --- the draft cut: what the current options would remove, before any hand edit ---
  // The silent stretches alone, at the threshold and tightness; ready at once.
  const std::vector<TimeRange>& silenceBands() const { return silenceBands_; }
  // The take decision's removals, in its order, before planning.
  const std::vector<TimeRange>& draftRemovals() const { return draftRemovals_; }
  // The removal bands of the planned cut; absent while there is no draft.
  const std::optional<std::vector<TimeRange>>& draftBands() const { return draftBands_; }
  // The removed segments of the planned cut, with kinds and reasons.
  const std::vector<Segment>& draftReasonSegments() const { return draftReasonSegments_; }
  // Counts draft refreshes; only the newest one's result is ever published.
  std::uint64_t draftGeneration() const { return draftGeneration_; }
  // The bands the user sees: the draft (or the silences while it is computed) with the hand
  // edits laid over it.
  std::vector<TimeRange> effectiveCutBands() const;
  // Why the cut removes the moment `seconds`; none where it is kept.
  std::optional<QString> cutReason(double seconds) const;
  // The start of the first hop in `range` loud enough to be heard; none when all are quiet.
  std::optional<double> audibleOnset(const TimeRange& range) const;
  // A caption as long as `length` allows, taken from the user's words on the current cut.
  QString subtitleExample(TranscriptExporter::SubtitleLength length) const;

  // --- remembered sessions ---
  const QStringList& recentSessionPaths() const { return recentSessionPaths_; }
  const QStringList& recentBatchPaths() const { return recentBatchPaths_; }

  // --- operations ---
  // Files dropped, chosen or opened from outside, in the order given.
  void accept(const QStringList& paths);
  // A package folder or its session file.
  void openSession(const QString& path);
  // Cut It: runs the single job (or re-cuts the stored session) on a worker thread. Nothing
  // happens while the footage can't be used.
  void start();
  // Back to the options to re-cut the last package, its footage looked at again if it couldn't
  // be used: it may be back at its path.
  void adjustAndRecut();
  // Back to the options after a failed cut, showing what is at the footage's path now, which is
  // what the next cut reads.
  void retryFromFailure();
  // Back to the empty drop zone.
  void reset();
  // The window is in front again: the footage may have been replaced, cut off or put back while
  // it was not, so the file at its path is looked at again.
  void lookAgainAtFootage();
  // Stops the look under way; a play held for it ends silently.
  void stopLookingAtFootage();
  // Saves pasted text as a script file in the user's data folder and uses it; blank text and a
  // failed write change nothing.
  void adoptPastedScript(const QString& text);
  void setScriptPath(const QString& path);
  void setDropStoredScript(bool drop);
  // Starts or stops playing the cut: from the hovered moment, else where it last stopped.
  void toggleAudition();
  // Checks once, in the background, that the speech model is installed; a failure is silent.
  void checkSpeechModel();

  // --- playing the cut, and the hand-edit gestures of the cut preview ---
  // True too while a play waits for its sound, or for the footage to be looked at.
  bool isAuditioning() const { return audition_->isPlaying(); }
  // Where playback is, in source time; none when not playing.
  std::optional<double> auditionPlayheadSeconds() const { return audition_->playhead(); }
  // Where playback last was; the next play resumes there.
  std::optional<double> lastPlayheadSeconds() const { return audition_->lastPlayhead(); }
  // The moment under the pointer on the waveform, to 0.02 s.
  std::optional<double> hoverPlayheadSeconds() const { return hoverPlayhead_; }
  // The end of the editing time line: hop duration × the number of levels.
  double levelLength() const { return levelHopDuration_ * static_cast<double>(levelsDBFS_.size()); }
  void startAudition(std::optional<double> atSourceSeconds);
  void scrubAudition(double toSourceSeconds);
  void stopAudition();
  void setHoverPlayhead(std::optional<double> seconds);
  // Reads the footage's sound now, so that the first play starts at once.
  void prepareAudition();
  const Audition& audition() const { return *audition_; }
  TimeRange snapToWords(TimeRange range, bool keep) const;
  // A stretch from the waveform forced kept or cut as one "Cut Edit" step; snapped to whole
  // words first when `snap`. Nothing happens to a stretch of 0.03 s or less.
  void editStretch(TimeRange range, bool keep, bool snap, QUndoStack* undo);
  // The transcript's words first…last (indices) forced kept or cut as one step; the words
  // around them keep their audio.
  void forceWords(std::size_t first, std::size_t last, bool keep, QUndoStack* undo);
  // Moving one edge of a shaded band: begin answers whether an edge lies within `tolerance`;
  // the whole drag is one step.
  bool beginEdgeDrag(double atSourceSeconds, double tolerance);
  void updateEdgeDrag(double toSourceSeconds);
  void endEdgeDrag(QUndoStack* undo);

  // --- a batch: two or more videos, each with its own options and hand edits ---
  const std::vector<BatchItem>& batch() const { return batch_; }
  // The item the editor shows; -1 only while a reopened batch is being installed.
  int batchIndex() const { return batchIndex_; }
  // Which video Cut All is cutting ("Video 3 of 4 — Intro"); absent otherwise.
  const std::optional<QString>& batchStageLabel() const { return batchStageLabel_; }
  const std::optional<QString>& batchImportError() const { return batchImportError_; }
  void setBatchImportError(std::optional<QString> message);
  // Two or more items, each with an output or a failure.
  bool batchFinished() const;
  // How many session files of the remembered batch exist; 0 when fewer than two.
  int reopenableBatchCount() const;
  // Stops playback, saves the editor into the item it leaves and loads item `index`; an index
  // outside the batch changes nothing. The edits of the item left can no longer be undone.
  void selectBatchItem(int index);
  // Copies the selected item's seven options to every other item; names, scripts, hand edits
  // and results stay per item.
  void applySettingsToAllBatchItems();
  // Cuts every item without an output, in batch order, each into its own package.
  void cutAll();
  // Rebuilds the remembered batch from its session files, every item unfinished.
  void reopenLastBatch();
  // Writes one timeline of every finished cut for the editor to import; returns its path.
  // Throws BatchImport::ImportError (or a write error) with the message to show.
  QString batchImportAllPath();

  // The preset whose speech padding is nearest `padding`; ties keep the looser one.
  static CutTightness nearestTightness(double padding);
  // The options an earlier cut was made with. A session does not store whether a movie was
  // rendered: `renderMP4` says.
  static CutOptions storedOptions(const PipelineSettings& stored, bool renderMP4);

  // The settings of the next cut.
  PipelineSettings currentSettings() const;
  // The stages the current options can reach, in pipeline order.
  std::vector<Pipeline::Stage> plannedStages() const;

 signals:
  // The screen changed, or the running stage did.
  void stateChanged();
  // Any other value the views show changed.
  void changed();
  void auditionToggleRequested();
  // The playhead, the hover line or whether the cut plays changed; nothing else did.
  void auditionChanged();
  // A new draft is in: draftRemovals, draftBands and draftReasonSegments changed together.
  void draftPublished();

 private:
  void setState(JobState state);
  void startPreAnalysis(const QString& footage);
  void cancelPreAnalysis();
  void refreshThreshold();
  void recomputeSilenceBands();
  EditGround editGround() const;
  void setUpAudition();
  void resumeAudition();
  // Recomputes the draft cut off the window's thread from the analysis in memory.
  void refreshDraftCuts();
  void publishDraft(std::uint64_t generation, Pipeline::DraftCut draft);
  // Where the draft and the cut read the footage's analysis: the pre-analysis or a stored session.
  void adoptAnalysis(Pipeline::Analysis analysis);
  // Everything that belongs to one video's audio, so the next video never inherits it.
  void forgetFootage();
  // Footage side (JobModelFootage.cpp): whether the footage can be used, and why not.
  void setFootageProblem(std::optional<QString> problem);
  // What another recording found at the footage's path is: one the cut can't use (a package's
  // footage), or new footage to listen to afresh.
  enum class OtherRecording { cantBeUsed, isNewFootage };
  OtherRecording otherRecordingHere() const;
  // Looks at the file at the footage's path off the window's thread; the newest look decides.
  // With `readIfUnshown`, footage proven but with nothing of it shown is analysed again.
  void lookAtFootage(OtherRecording other, bool readIfUnshown = false);
  void settleFootageLook(std::uint64_t generation, const FootageLook& look, OtherRecording other, bool readIfUnshown);
  void cancelFootageLook();
  // The footage at its path changed on disk while the options or the results show it: looked at
  // again, or listened to again where its analysis read it as it was.
  void footageChangedOnDisk();
  void analyseAgain();
  void watchFootage();
  void takeProvenFootage(std::shared_ptr<const platform::MediaFile> file);
  // What is shown is a package an earlier build stored, its times counted by samples, not yet
  // moved onto the footage's clock.
  bool showsCountedTimes() const;
  // Moves everything shown of it (words, levels, hand edits, the draft, the cut on the results)
  // to where `clock` puts it, as its re-cut will store it.
  void moveOntoFileClock(const CountedClock& clock);
  // A stored analysis of such a package, moved alike. Worker threads too.
  static Pipeline::Analysis movedOntoFileClock(Pipeline::Analysis analysis, const CountedClock& clock);
  // Another recording at the footage's path: nothing of the one analysed applies to it.
  void takeNewRecording();
  QString footageProblemText(const FootageLook& look, OtherRecording other) const;
  void previewFootageAtItsPath();
  // The footage `judged` still at its path, or else what a full look finds there. Worker threads.
  static FootageLook lookAgain(EngineApi& engine, const std::shared_ptr<const platform::MediaFile>& judged,
                               const KestraneSession& footage, std::stop_token stop);
  // Whether `analysis` is still of the file at its footage's path: the file it read is still
  // there unwritten, or (an analysis stored without its file) the file there is proven its
  // footage and is held by it from now on. Worker threads.
  static bool stillOfFootage(EngineApi& engine, Pipeline::Analysis& analysis, std::stop_token stop);
  static KestraneSession describedBy(const Pipeline::Analysis& analysis);
  void rememberSession(const QString& sessionPath);
  // Batch side (JobModelBatch.cpp).
  void startBatch(const QStringList& videos);
  void replaceBatch(std::vector<BatchItem> items);
  // No batch any more: its queue and Cut All stop at their next step.
  void forgetBatch();
  void stashCurrentBatchItem();
  void runBatchAnalysisQueue();
  void analyseBatchItem(std::uint64_t generation, int index, int count);
  void cutBatchItem(std::uint64_t generation, int index, int count, std::chrono::steady_clock::time_point started);
  void finishBatchCut(std::chrono::steady_clock::time_point started);
  void rememberBatch();
  void finishCut(std::uint64_t generation, Pipeline::Output output, bool usedPreAnalysis,
                 std::chrono::steady_clock::time_point started, std::optional<Pipeline::Analysis> fresh);
  void failCut(std::uint64_t generation, std::exception_ptr error);
  // A re-cut found its footage unusable before it began: back to the options, saying why.
  void footageUnusableAtCut(std::uint64_t generation, const FootageLook& look);
  // The analysis a cut made of a recording found at the footage's path in place of the one
  // analysed before becomes the editor's, as a finished pre-analysis.
  void takeFreshAnalysis(Pipeline::Analysis analysis);
  // The cut of the video in the editor, as a single Cut It and each cut of Cut All ask for it.
  struct CutRequest {
    Pipeline::Request request;
    // Without levels yet the threshold is measured from the analysis the cut waits for, so it
    // never depends on timing; none: the request's threshold holds.
    std::optional<SilenceSensitivity> measureThreshold;
    SilenceSensitivity sensitivity = defaultSilenceSensitivity;
    // The request to run over `analysis` (none: the pipeline analyses the footage itself).
    Pipeline::Request over(const std::optional<Pipeline::Analysis>& analysis) const;
    // The same cut of another recording than the one analysed: no hand edit made over that one
    // applies, and the threshold is measured from the new recording's own levels.
    CutRequest renewed() const;
  };
  CutRequest cutRequest() const;
  void setAnalysisTranscript(std::optional<Transcript> transcript);
  // Reports a cut's stages to the running screen while `generation` is still the cut shown.
  Pipeline::ProgressCallback runningProgress(std::uint64_t generation);

  std::shared_ptr<EngineApi> engine_;
  std::unique_ptr<QSettings> settings_;

  JobState state_;
  QString footagePath_;
  QString scriptPath_;
  QString projectName_;
  // The name the loaded session was cut under; a re-cut passes the name on only when it differs.
  QString storedProjectName_;
  QString projectNotes_;
  std::optional<QString> dropMessage_;
  std::vector<BatchItem> batch_;
  int batchIndex_ = 0;
  std::optional<QString> batchStageLabel_;
  std::optional<QString> batchImportError_;
  // Counts batches: the queue and Cut All of a replaced batch stop at their next step.
  std::uint64_t batchGeneration_ = 0;
  std::stop_source batchAnalysisStop_{std::nostopstate};
  // The item the queue is analysing now and its outcome (none when it failed): Cut All waits for
  // it rather than analysing the same footage a second time.
  QUuid batchAnalysing_;
  std::shared_future<std::shared_ptr<const Pipeline::Analysis>> batchAnalysisPending_;
  bool sessionHasScript_ = false;
  // The script file the last finished cut read: attached still, it is nothing new to a re-cut.
  QString sessionScriptPath_;
  bool dropStoredScript_ = false;
  bool sourceMissing_ = false;
  QString sourceProblem_;
  // The file judged to be the footage in the editor, held: the one its analysis read, or the one
  // a look proved; none until then.
  std::shared_ptr<const platform::MediaFile> judged_;
  // What the footage is held against when it is looked at: the analysis shown, or what a
  // reopened package stores of its footage.
  std::optional<KestraneSession> footageDescription_;
  bool footageLooking_ = false;
  bool footageLookLong_ = false;
  bool footageLookStopped_ = false;
  bool footageBeingWritten_ = false;
  bool footageChangedWhileAnalysed_ = false;
  // The last cut was of a copy whose sound ends early: a whole copy put at its path is new footage
  // to cut, not other footage to refuse.
  bool cutFromCutOffCopy_ = false;
  QTimer* footageLookLongTimer_;
  FootageWatch* footageWatch_;
  std::uint64_t footageLookGeneration_ = 0;
  std::stop_source footageLookStop_{std::nostopstate};
  QStringList openingWarnings_;
  bool packageMayBeMixed_ = false;
  bool isRecut_ = false;
  QString lastSessionPath_;
  std::optional<double> lastCutDuration_;
  std::optional<double> lastPreAnalysisDuration_;

  CutOptions options_;
  double silenceThreshold_ = -40;
  SilenceSensitivity sensitivity_ = defaultSilenceSensitivity;

  PreAnalysisState preAnalysisState_ = PreAnalysisState::none;
  QString preAnalysisFailure_;
  QString preAnalysisInput_;
  std::shared_future<Pipeline::Analysis> preAnalysis_;
  std::stop_source preAnalysisStop_;
  std::optional<double> preAnalysisDuration_;
  std::vector<float> levelsDBFS_;
  double levelHopDuration_ = 0.01;
  std::optional<Transcript> analysisTranscript_;
  std::uint64_t transcriptGeneration_ = 0;
  // What the draft is computed from; shared with the draft's threads, never changed in place.
  std::shared_ptr<const Pipeline::Analysis> draftInput_;
  // What one draft of draftInput_ leaves for the next.
  std::shared_ptr<Pipeline::DraftCache> draftCache_;
  std::vector<TimeRange> silenceBands_;
  std::vector<TimeRange> draftRemovals_;
  std::optional<std::vector<TimeRange>> draftBands_;
  std::vector<Segment> draftReasonSegments_;
  std::uint64_t draftGeneration_ = 0;
  std::stop_source draftStop_{std::nostopstate};
  // Counts pre-analyses: a late result of a superseded one never publishes.
  std::uint64_t preAnalysisGeneration_ = 0;
  std::vector<TimeRange> manualKeeps_;
  std::vector<TimeRange> manualRemovals_;
  std::optional<EdgeDrag> edgeDrag_;
  QUndoStack* editHistory_;
  std::unique_ptr<Audition> audition_;
  std::optional<double> hoverPlayhead_;
  // Where playback goes on once a draft refresh that interrupted it has published.
  std::optional<double> resumeAuditionAt_;

  QStringList recentSessionPaths_;
  QStringList recentBatchPaths_;

  // Counts cuts; a report from an earlier cut never touches a later one.
  std::uint64_t cutGeneration_ = 0;
  Background background_;  // last: its threads are joined before anything they use goes
};

}  // namespace kestrane::app
