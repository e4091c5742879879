// The draft cut: what the current options would remove, recomputed off the window's thread from
// the analysis in memory after every change of an option that shapes the cut, and what the
// views read from it (reasons, audible onsets, the caption sample).
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <cmath>

#include "app/core/JobModel.hpp"
#include "app/core/HandEdits.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/export/TranscriptExporter.hpp"

namespace kestrane::app {

namespace {

// Draft bands closer than this are one band.
constexpr double draftGlue = 0.01;
// A gap between kept stretches shorter than this is no cut for the caption sample.
constexpr double captionGap = 0.01;

const char* const fallbackCaption = "you're trying to build a professional website";

QString reasonOf(const Segment& segment) {
  if (segment.reason) return QString::fromStdString(*segment.reason);
  switch (segment.kind) {
    case SegmentKind::silence: return QStringLiteral("silence");
    case SegmentKind::filler: return QStringLiteral("filler word");
    case SegmentKind::retakeRejected: return QStringLiteral("repeated take \u2014 a better rendition is kept");
    case SegmentKind::flub: return QStringLiteral("false start");
    default: return {};
  }
}

}  // namespace

void JobModel::setRemoveFillers(bool on) {
  options_.removeFillers = on;
  refreshDraftCuts();
}

void JobModel::setTightness(CutTightness tightness) {
  options_.tightness = tightness;
  refreshDraftCuts();
}

void JobModel::setThoroughness(Thoroughness thoroughness) {
  options_.thoroughness = thoroughness;
  refreshDraftCuts();
}

void JobModel::setSensitivity(SilenceSensitivity sensitivity) {
  sensitivity_ = sensitivity;
  refreshThreshold();
  refreshDraftCuts();
}

void JobModel::setEmbedCaptions(bool on) {
  options_.embedCaptions = on;
  emit changed();
}

void JobModel::setSubtitleLength(TranscriptExporter::SubtitleLength length) {
  options_.subtitleLength = length;
  emit changed();
}

void JobModel::adoptAnalysis(Pipeline::Analysis analysis) {
  levelsDBFS_ = analysis.levels.levelsDBFS();
  levelHopDuration_ = analysis.levels.hopDuration;
  setAnalysisTranscript(analysis.transcript);
  // The footage is what this analysis heard, in the file it read (a stored one read none).
  judged_ = analysis.footage;
  footageDescription_ = describedBy(analysis);
  draftInput_ = std::make_shared<const Pipeline::Analysis>(std::move(analysis));
  draftCache_ = std::make_shared<Pipeline::DraftCache>();
}

void JobModel::setAnalysisTranscript(std::optional<Transcript> transcript) {
  // Still none: the view has nothing to lay out again.
  if (!transcript && !analysisTranscript_) return;
  analysisTranscript_ = std::move(transcript);
  ++transcriptGeneration_;
}

void JobModel::recomputeSilenceBands() {
  silenceBands_ = levelsDBFS_.empty() ? std::vector<TimeRange>{}
                                      : SilencePreview::silenceBands(levelsDBFS_, levelHopDuration_, silenceThreshold_,
                                                                     minSilenceDuration(options_.tightness),
                                                                     speechPadding(options_.tightness));
}

void JobModel::refreshDraftCuts() {
  // Playback goes on from the same moment over the new bands once they are in.
  if (isAuditioning()) {
    const double at = audition_->position().value_or(0);
    stopAudition();
    resumeAuditionAt_ = at;
  }
  recomputeSilenceBands();
  draftStop_.request_stop();
  const std::uint64_t generation = ++draftGeneration_;
  if (!draftInput_ || levelsDBFS_.empty()) {
    draftRemovals_.clear();
    draftBands_.reset();
    draftReasonSegments_.clear();
    emit changed();
    resumeAudition();
    return;
  }
  // The automatic cut: hand edits are laid over it, never into it.
  PipelineSettings settings = currentSettings();
  settings.manualKeepRanges = std::vector<TimeRange>{};
  settings.manualRemoveRanges = std::vector<TimeRange>{};
  draftStop_ = background_.start(
      [this, engine = engine_, input = draftInput_, cache = draftCache_, settings, generation](std::stop_token stop) {
        Pipeline::DraftCut draft = engine->draftCut(*input, settings, *cache);
        if (stop.stop_requested()) return;
        postTo(this,
               [this, generation, draft = std::move(draft)]() mutable { publishDraft(generation, std::move(draft)); });
      });
  emit changed();
}

void JobModel::publishDraft(std::uint64_t generation, Pipeline::DraftCut draft) {
  // A refresh that came later owns the picture, even if this one was not stopped in time.
  if (generation != draftGeneration_) return;
  draftRemovals_.clear();
  for (const Segment& removal : draft.decision.removals) draftRemovals_.push_back(removal.range);
  draftReasonSegments_.clear();
  std::vector<TimeRange> removed;
  for (const Segment& segment : draft.cutList.segments) {
    if (segment.kind == SegmentKind::keep) continue;
    draftReasonSegments_.push_back(segment);
    removed.push_back(segment.range);
  }
  draftBands_ = SilencePreview::unionOf(removed, draftGlue);
  emit changed();
  emit draftPublished();
  resumeAudition();
}

void JobModel::resumeAudition() {
  if (!resumeAuditionAt_) return;
  const double at = *resumeAuditionAt_;
  resumeAuditionAt_.reset();
  startAudition(at);
}

std::vector<TimeRange> JobModel::effectiveCutBands() const {
  std::span<const TranscriptWord> words;
  if (analysisTranscript_) words = analysisTranscript_->words;
  return HandEdits::effectiveCutBands(HandEdits::automaticBands(draftBands_ ? *draftBands_ : silenceBands_, words),
                                      manualEdits(), words);
}

std::optional<QString> JobModel::cutReason(double seconds) const {
  const auto inside = [seconds](const TimeRange& r) { return r.start <= seconds && seconds < r.end; };
  if (std::any_of(manualRemovals_.begin(), manualRemovals_.end(), inside)) {
    return QStringLiteral("removed by hand");
  }
  for (const Segment& segment : draftReasonSegments_) {
    if (!inside(segment.range)) continue;
    QString reason = reasonOf(segment);
    if (reason.isEmpty()) return std::nullopt;
    return reason;
  }
  return std::nullopt;
}

std::optional<double> JobModel::audibleOnset(const TimeRange& range) const {
  const double hop = levelHopDuration_;
  if (hop <= 0 || levelsDBFS_.empty()) return std::nullopt;
  const auto count = static_cast<double>(levelsDBFS_.size());
  const double first = std::max(0.0, std::trunc(range.start / hop));
  const double last = std::min(std::trunc(range.end / hop), count);
  for (double i = first; i < last; ++i) {
    if (levelsDBFS_[static_cast<std::size_t>(i)] >= silenceThreshold_) return hop * i;
  }
  return std::nullopt;
}

QString JobModel::subtitleExample(TranscriptExporter::SubtitleLength length) const {
  if (!analysisTranscript_ || levelsDBFS_.empty()) return QString::fromUtf8(fallbackCaption);
  const double total = levelHopDuration_ * static_cast<double>(levelsDBFS_.size());
  CutList cut;
  double cursor = 0;
  for (const TimeRange& keep : SilencePreview::keepRanges(total, effectiveCutBands())) {
    if (cursor + captionGap < keep.start) cut.segments.push_back({{cursor, keep.start}, SegmentKind::silence});
    cut.segments.push_back({keep, SegmentKind::keep});
    cursor = keep.end;
  }
  if (cut.segments.empty()) return {};
  const std::vector<TranscriptExporter::Cue> cues =
      TranscriptExporter::cues(*analysisTranscript_, cut, TranscriptExporter::maxLineDuration(length),
                               TranscriptExporter::maxWordsPerCue(length));
  if (cues.empty()) return {};
  std::size_t most = 0;
  for (const auto& cue : cues) most = std::max(most, cue.words.size());
  // The fullest cue nearest the middle, so the sample is neither the greeting nor the sign-off.
  const double middle = static_cast<double>(cues.size()) / 2;
  std::size_t best = cues.size();
  for (std::size_t i = 0; i < cues.size(); ++i) {
    if (cues[i].words.size() != most) continue;
    if (best == cues.size() ||
        std::abs(static_cast<double>(i) - middle) < std::abs(static_cast<double>(best) - middle)) {
      best = i;
    }
  }
  return QString::fromStdString(cues[best].text());
}

void JobModel::adoptPastedScript(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return;
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/Kestrane/Pasted Scripts/") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
  QDir().mkpath(folder);
  QSaveFile file(folder + QStringLiteral("/Pasted script.txt"));
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(trimmed.toUtf8());
  if (!file.commit()) return;
  scriptPath_ = file.fileName();
  dropStoredScript_ = false;
  emit changed();
}

void JobModel::setScriptPath(const QString& path) {
  scriptPath_ = path;
  emit changed();
}

void JobModel::setDropStoredScript(bool drop) {
  dropStoredScript_ = drop;
  emit changed();
}

}  // namespace kestrane::app
