// Whether the footage in the editor can be used: the file at its path, held against the file the
// window judged to be the footage (the one its analysis read, or the one a look proved). It is
// looked at again whenever it may have changed: a package opened, the window back in front, a
// play, a re-cut, a failed cut tried again. Every look runs on a thread of its own, since hearing
// a file can take seconds, and the newest one decides.
#include <QUndoStack>

#include "app/core/FootageFile.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::app {

void JobModel::setFootageProblem(std::optional<QString> problem) {
  sourceMissing_ = problem.has_value();
  sourceProblem_ = problem.value_or(QString());
}

KestraneSession JobModel::describedBy(const Pipeline::Analysis& analysis) {
  KestraneSession footage;
  footage.source = analysis.source;
  footage.levels = analysis.levels;
  return footage;
}

JobModel::OtherRecording JobModel::otherRecordingHere() const {
  // Once a package is made of the footage, another recording at its path is none of its footage;
  // but where that package is of a copy cut off, a whole one put there is what to cut next.
  return lastSessionPath_.isEmpty() || cutFromCutOffCopy_ ? OtherRecording::isNewFootage : OtherRecording::cantBeUsed;
}

FootageLook JobModel::lookAgain(EngineApi& engine, const std::shared_ptr<const platform::MediaFile>& judged,
                                const KestraneSession& footage, std::stop_token stop) {
  if (judged && judged->stillAtItsPath()) return FootageLook::of(judged);
  return engine.lookAtFootage(footage, std::move(stop));
}

void JobModel::lookAgainAtFootage() {
  if (batch_.size() >= 2 || footagePath_.isEmpty()) return;
  if (state_.screen != Screen::configuring && state_.screen != Screen::done) return;
  lookAtFootage(otherRecordingHere());
}

void JobModel::lookAtFootage(OtherRecording other, bool readIfUnshown) {
  // Nothing yet to hold the file against: the analysis under way reads the file there now.
  if (!footageDescription_ || footagePath_.isEmpty()) return;
  cancelFootageLook();
  footageLooking_ = true;
  footageLookStopped_ = false;
  footageLookLongTimer_->start();
  const std::uint64_t generation = footageLookGeneration_;
  KestraneSession footage = *footageDescription_;
  footage.source.path = toPath(footagePath_).string();
  footageLookStop_ = background_.start(
      [this, engine = engine_, judged = judged_, footage, generation, other, readIfUnshown](std::stop_token stop) {
        try {
          FootageLook look = lookAgain(*engine, judged, footage, stop);
          postTo(this, [this, generation, look = std::move(look), other, readIfUnshown] {
            settleFootageLook(generation, look, other, readIfUnshown);
          });
        } catch (const Cancelled&) {
          // A newer look, or the window going, took over.
        } catch (const std::exception& e) {
          // Unreadable as media: said as what is at the path.
          FootageLook look;
          look.unreadable = e.what();
          postTo(this, [this, generation, look = std::move(look), other, readIfUnshown] {
            settleFootageLook(generation, look, other, readIfUnshown);
          });
        }
      });
}

void JobModel::cancelFootageLook() {
  ++footageLookGeneration_;
  footageLookStop_.request_stop();
  footageLookStop_ = std::stop_source(std::nostopstate);
  footageLooking_ = footageLookLong_ = false;
  footageLookLongTimer_->stop();
}

void JobModel::stopLookingAtFootage() {
  if (!footageLooking_) return;
  cancelFootageLook();
  stopAudition();
  footageLookStopped_ = true;
  emit auditionChanged();
  emit changed();
}

void JobModel::watchFootage() {
  const bool shown = state_.screen == Screen::configuring || state_.screen == Screen::done;
  footageWatch_->watch(shown && batch_.size() < 2 ? footagePath_ : QString());
}

void JobModel::footageChangedOnDisk() {
  if (batch_.size() >= 2 || footagePath_.isEmpty()) return;
  if (state_.screen != Screen::configuring && state_.screen != Screen::done) return;
  if (preAnalysisInput_ == footagePath_) {
    // An analysis under way read the file as it was: once it ends, what is there now is looked at.
    if (preAnalysisState_ == PreAnalysisState::working) {
      footageChangedWhileAnalysed_ = true;
      return;
    }
    // One that failed (a take still being written) listens again.
    if (preAnalysisState_ == PreAnalysisState::failed) return analyseAgain();
  }
  lookAgainAtFootage();
}

void JobModel::analyseAgain() {
  cancelPreAnalysis();
  startPreAnalysis(footagePath_);
}

void JobModel::settleFootageLook(std::uint64_t generation, const FootageLook& look, OtherRecording other,
                                 bool readIfUnshown) {
  if (generation != footageLookGeneration_) return;
  footageLooking_ = footageLookLong_ = false;
  footageLookLongTimer_->stop();
  const bool wasMissing = sourceMissing_;
  if (look.proven()) {
    // A play held for this look goes on, over sound read from the file proven.
    std::optional<std::optional<double>> held;
    if (audition_->isHeld()) held.emplace(audition_->position());
    if (look.movedBy && showsCountedTimes()) {
      moveOntoFileClock(*look.movedBy);
      if (held && *held) *held = look.movedBy->onFileClock(**held);
    }
    takeProvenFootage(look.file);
    if (readIfUnshown && !draftInput_ && preAnalysisState_ != PreAnalysisState::working) {
      // Nothing of it is shown (its analysis failed, or the package stored none): read it again.
      cancelPreAnalysis();
      startPreAnalysis(footagePath_);
    }
    if (audition_->isPlaying()) audition_->release();
    else if (held && !sourceMissing_) {
      audition_->start(footagePath_, SilencePreview::keepRanges(levelLength(), effectiveCutBands()), *held);
    }
  } else if (look.change && other == OtherRecording::isNewFootage && batch_.size() < 2) {
    takeNewRecording();
    // The results are of what was there before: the options show the recording there now.
    if (state_.screen == Screen::done) setState(JobState::configuring());
  } else {
    // Nothing decoded from what was there before is heard over what is there now.
    judged_.reset();
    audition_->forget();
    if (batch_.size() < 2) setFootageProblem(footageProblemText(look, other));
  }
  emit auditionChanged();
  emit changed();
  // The results are headed by whether the footage can be used.
  if (sourceMissing_ != wasMissing && state_.screen == Screen::done) setState(state_);
}

bool JobModel::showsCountedTimes() const {
  return footageDescription_ && footageDescription_->soundTiming == SoundTiming::countedSamples;
}

Pipeline::Analysis JobModel::movedOntoFileClock(Pipeline::Analysis analysis, const CountedClock& clock) {
  KestraneSession counted;
  counted.soundTiming = SoundTiming::countedSamples;
  counted.source = analysis.source;
  counted.levels = analysis.levels;
  counted.transcript = std::move(analysis.transcript);
  KestraneSession moved = onFileClock(std::move(counted), clock);
  analysis.levels = *moved.levels;
  analysis.transcript = std::move(*moved.transcript);
  return analysis;
}

void JobModel::moveOntoFileClock(const CountedClock& clock) {
  // Sound read from the file lies where its timestamps put it; nothing is played over times
  // counted otherwise.
  stopAudition();
  const double end = footageDescription_->source.durationSeconds;
  PipelineSettings edits;
  edits.manualKeepRanges = manualKeeps_;
  edits.manualRemoveRanges = manualRemovals_;
  edits = onFileClock(std::move(edits), clock, end);
  if (draftInput_) {
    // The footage is then described by the analysis moved.
    adoptAnalysis(movedOntoFileClock(*draftInput_, clock));
  } else {
    footageDescription_ = onFileClock(std::move(*footageDescription_), clock);
    if (footageDescription_->levels) levelsDBFS_ = footageDescription_->levels->levelsDBFS();
  }
  manualKeeps_ = std::move(*edits.manualKeepRanges);
  manualRemovals_ = std::move(*edits.manualRemoveRanges);
  // Its steps are over the times as counted.
  editHistory_->clear();
  // The draft shown moves with the rest until the one over the moved analysis is in.
  for (TimeRange& range : draftRemovals_) range = clock.onFileClock(range);
  if (draftBands_) {
    for (TimeRange& range : *draftBands_) range = clock.onFileClock(range);
  }
  for (Segment& segment : draftReasonSegments_) segment.range = clock.onFileClock(segment.range);
  refreshDraftCuts();
  if (state_.screen == Screen::done && state_.output) {
    Pipeline::Output output = *state_.output;
    output.session = onFileClock(std::move(output.session), clock);
    setState(JobState::done(std::move(output)));
  }
}

void JobModel::takeProvenFootage(std::shared_ptr<const platform::MediaFile> file) {
  // Sound read from another file than the one proven is read again from the one there now.
  if (const auto pcm = audition_->decoded(footagePath_); pcm && !FootageLooks::sameFile(pcm->file, file)) {
    audition_->forget();
  }
  judged_ = std::move(file);
  setFootageProblem(std::nullopt);
  prepareAudition();
}

void JobModel::takeNewRecording() {
  forgetFootage();
  cancelPreAnalysis();
  setFootageProblem(std::nullopt);
  // No package is of it yet.
  isRecut_ = sessionHasScript_ = dropStoredScript_ = cutFromCutOffCopy_ = false;
  lastSessionPath_.clear();
  storedProjectName_.clear();
  startPreAnalysis(footagePath_);
}

QString JobModel::footageProblemText(const FootageLook& look, OtherRecording other) const {
  if (look.unreadable) {
    return FootageFile::cantOpen(footagePath_, QString::fromStdString(*look.unreadable)) +
           QStringLiteral(" \u2014 put the footage back at that path to play or cut it.");
  }
  if (look.change) return QString::fromStdString(Pipeline::footageChangeNote(*look.change, look.remedy));
  if (other == OtherRecording::cantBeUsed) {
    return QStringLiteral(
        "The source footage isn\u2019t at its stored location \u2014 reconnect the drive (or move the file back) "
        "to play or re-cut.");
  }
  return QStringLiteral("%1 isn\u2019t there any more \u2014 put the footage back at that path to play or cut it.")
      .arg(footagePath_);
}

void JobModel::previewFootageAtItsPath() {
  // The editor's one video only: a batch's videos keep what its queue found of them.
  if (batch_.size() >= 2) return;
  if (footageDescription_) return lookAtFootage(OtherRecording::isNewFootage, /*readIfUnshown=*/true);
  if (preAnalysisState_ == PreAnalysisState::working) return;
  // Nothing of it is known (its analysis failed): read it again.
  cancelPreAnalysis();
  startPreAnalysis(footagePath_);
}

}  // namespace kestrane::app
