// The job model's cut preview: playing the cut for audition, and the gestures of the waveform
// and the transcript turned into hand edits, each one undo step. Every edit stops playback first,
// so what plays always matches the bands on screen.
#include <QUndoStack>

#include <cmath>

#include "app/core/FootageLook.hpp"
#include "app/core/JobModel.hpp"
#include "kestrane/analysis/SilencePreview.hpp"

namespace kestrane::app {

namespace {

// Overrides this short or shorter change nothing.
constexpr double shortestEdit = 0.03;
// The hover line moves in fiftieths of a second, so a pointer that barely moves publishes nothing.
constexpr double hoverSteps = 50;

}  // namespace

void JobModel::setUpAudition() {
  audition_ = std::make_unique<Audition>(
      [engine = engine_](const QString& footage) { return engine->decodeAudition(toPath(footage)); });
  // Only sound read from the very file judged to be the footage is ever heard.
  audition_->setAccepts([this](const AuditionPcm& pcm) { return FootageLooks::sameFile(pcm.file, judged_); });
  connect(audition_.get(), &Audition::changed, this, &JobModel::auditionChanged);
}

void JobModel::toggleAudition() {
  if (levelsDBFS_.empty()) return;
  emit auditionToggleRequested();
  if (isAuditioning()) return stopAudition();
  startAudition(hoverPlayhead_ ? hoverPlayhead_ : lastPlayheadSeconds());
}

void JobModel::startAudition(std::optional<double> atSourceSeconds) {
  if (isAuditioning() || footagePath_.isEmpty() || levelsDBFS_.empty() || sourceMissing_) return;
  const std::vector<TimeRange> keeps = SilencePreview::keepRanges(levelLength(), effectiveCutBands());
  // Nothing is heard until the file at the footage's path is looked at (a look under way answers
  // for this play too) and proven the footage the sound is read from; the sound is read meanwhile.
  audition_->start(footagePath_, keeps, atSourceSeconds, /*held=*/true);
  if (!audition_->isHeld()) return;  // nothing kept to play
  if (!footageLooking_) lookAtFootage(batch_.size() >= 2 ? OtherRecording::cantBeUsed : otherRecordingHere());
  // Nothing to hold the file against: only sound read from the file judged the footage plays.
  if (!footageLooking_) audition_->release();
}

void JobModel::scrubAudition(double toSourceSeconds) {
  const double at = std::clamp(toSourceSeconds, 0.0, levelLength());
  if (isAuditioning()) audition_->seek(at);
  else startAudition(at);
}

void JobModel::stopAudition() {
  audition_->stop();
  // Nor does a draft refresh that interrupted playback start it again.
  resumeAuditionAt_.reset();
}

void JobModel::setHoverPlayhead(std::optional<double> seconds) {
  if (seconds) seconds = std::round(*seconds * hoverSteps) / hoverSteps;
  if (seconds == hoverPlayhead_) return;
  hoverPlayhead_ = seconds;
  emit auditionChanged();
}

void JobModel::prepareAudition() {
  if (footagePath_.isEmpty() || sourceMissing_) return;
  // A reopened package's footage is read only once it is proven the package's.
  if (!judged_ && footageLooking_) return;
  audition_->prepare(footagePath_);
}

EditGround JobModel::editGround() const {
  EditGround ground;
  if (analysisTranscript_) ground.words = analysisTranscript_->words;
  ground.automatic = HandEdits::automaticBands(draftBands_ ? *draftBands_ : silenceBands_, ground.words);
  ground.levelLength = levelLength();
  ground.audibleOnset = [this](const TimeRange& range) { return audibleOnset(range); };
  return ground;
}

TimeRange JobModel::snapToWords(TimeRange range, bool keep) const {
  return HandEdits::snapToWords(editGround(), range, keep);
}

void JobModel::editStretch(TimeRange range, bool keep, bool snap, QUndoStack* undo) {
  if (snap) range = snapToWords(range, keep);
  if (range.duration() <= shortestEdit) return;
  const ManualEdits before = manualEdits();
  const EditGround ground = editGround();
  setManualEdits(HandEdits::withStretch(ground.automatic, before, range, keep, ground.words));
  recordEdit(undo, before);
}

void JobModel::forceWords(std::size_t first, std::size_t last, bool keep, QUndoStack* undo) {
  stopAudition();
  const ManualEdits before = manualEdits();
  const ManualEdits after = HandEdits::withForcedWords(editGround(), before, first, last, keep);
  if (after == before) return;
  setManualEdits(after);
  recordEdit(undo, before);
}

bool JobModel::beginEdgeDrag(double atSourceSeconds, double tolerance) {
  edgeDrag_ = EdgeDrag::begin(editGround(), manualEdits(), atSourceSeconds, tolerance);
  if (!edgeDrag_) return false;
  stopAudition();
  return true;
}

void JobModel::updateEdgeDrag(double toSourceSeconds) {
  if (!edgeDrag_) return;
  ManualEdits edits = manualEdits();
  edgeDrag_->update(edits, toSourceSeconds, levelLength());
  setManualEdits(edits);
}

void JobModel::endEdgeDrag(QUndoStack* undo) {
  if (!edgeDrag_) return;
  const ManualEdits before = edgeDrag_->snapshot();
  edgeDrag_.reset();
  const EditGround ground = editGround();
  setManualEdits(HandEdits::normalized(ground.automatic, manualEdits(), ground.words));
  recordEdit(undo, before);
}

}  // namespace kestrane::app
