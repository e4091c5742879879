#include "app/views/CutPreviewSection.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "app/views/Brand.hpp"
#include "app/views/FormControls.hpp"
#include "app/views/Symbols.hpp"
#include "app/views/TranscriptView.hpp"
#include "app/views/WaveformView.hpp"
#include "app/views/WrappingRow.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"

namespace kestrane::app {

using Brand::TextStyle;

namespace {

constexpr double maxZoom = 8;
// The zoom slider's steps per unit of zoom: fine enough to feel continuous.
constexpr int zoomSteps = 100;
// Bands removing no more than this read as nothing to cut.
constexpr double negligibleCut = 0.5;

QString listenText() {
  return QStringLiteral(
      "Purple is your audio; the shaded stretches get cut. Hover to aim the playhead, then "
      "click or press space to play from there \u2014 space again stops, and it remembers where "
      "you were. Flip on Edit to change the cut by hand.");
}

QString editText() {
  return QStringLiteral(
      "Editing: drag across shaded audio to bring it back, or across kept audio to cut it "
      "\u2014 it snaps to whole words. Hover a stretch for its + or \u00d7 button, or drag an "
      "orange grip to move an in/out point. Ctrl+Z undoes one edit.");
}

// The player row's buttons are small, so the row leaves its readout room on one line; a
// switched-on toggle is tinted with the accent.
QPushButton* smallButton(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setFont(Brand::font(TextStyle::caption));
  b->setIconSize(QSize(12, 12));
  b->setStyleSheet(
      QStringLiteral("QPushButton { background: #3a3841; color: %1; border: 1px solid #4a4852;"
                     " border-radius: 6px; padding: 3px 9px; } QPushButton:hover { background: #45434d; }"
                     " QPushButton:pressed { background: #2f2d35; }"
                     " QPushButton:disabled { color: %2; background: #2f2d35; }"
                     " QPushButton:checked { background: rgba(168, 85, 247, 90); border-color: %3; }")
          .arg(Brand::hex(Brand::primaryText), Brand::hex(Brand::tertiaryText), Brand::hex(Brand::accent)));
  return b;
}

QPushButton* toggleButton(const QString& text, const QString& symbol, const char* name, QWidget* parent) {
  QPushButton* b = smallButton(text, name, parent);
  b->setCheckable(true);
  b->setIcon(Symbols::icon(symbol, Brand::primaryText, 12));
  return b;
}

}  // namespace

namespace CutPreview {

QString readout(double total, double cut, int handEdits) {
  if (cut <= negligibleCut) return QStringLiteral("Nothing to cut at these settings.");
  const double kept = std::max(0.0, total - cut);
  QString text = QStringLiteral("%1 of %2 survives.")
                     .arg(QString::fromStdString(Pipeline::elapsedString(kept)),
                          QString::fromStdString(Pipeline::elapsedString(total)));
  if (handEdits > 0) {
    text += QStringLiteral(" %1 hand edit%2.").arg(handEdits).arg(handEdits == 1 ? QString() : QStringLiteral("s"));
  }
  return text;
}

double anchoredOffset(double viewport, double oldWidth, double newWidth, double offset, double total,
                      std::optional<double> playhead) {
  if (total <= 0 || oldWidth <= 0) return offset;
  double anchor = (viewport * 0.5 + offset) / oldWidth;
  if (playhead) {
    const double x = oldWidth * (*playhead / total);
    if (offset <= x && x <= offset + viewport) anchor = *playhead / total;
  }
  const double x = std::max(0.0, newWidth * anchor - viewport * 0.5);
  return std::min(x, std::max(0.0, newWidth - viewport));
}

}  // namespace CutPreview

CutPreviewSection::CutPreviewSection(JobModel& job, QUndoStack* undo, QWidget* parent)
    : QWidget(parent), job_(job), undo_(undo) {
  setObjectName(QStringLiteral("cutPreview"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);

  intro_ = captionText(listenText(), this);
  intro_->setObjectName(QStringLiteral("previewIntro"));
  column->addWidget(intro_);

  sourceMissing_ = new QWidget(this);
  sourceMissing_->setObjectName(QStringLiteral("sourceMissing"));
  auto* missingRow = new QHBoxLayout(sourceMissing_);
  missingRow->setContentsMargins(0, 0, 0, 0);
  missingRow->setSpacing(6);
  missingRow->addWidget(Symbols::label(QStringLiteral("externaldrive.badge.questionmark"), Brand::orange, 14), 0,
                        Qt::AlignTop);
  sourceMissingText_ = Brand::label(QString(), TextStyle::caption, Brand::orange, QFont::Normal, Qt::AlignLeft);
  sourceMissingText_->setObjectName(QStringLiteral("sourceMissingText"));
  sourceMissingText_->setWordWrap(true);
  missingRow->addWidget(sourceMissingText_, 1);
  column->addWidget(sourceMissing_);

  placeholder_ = Brand::label(QStringLiteral("Your audio appears here once Kestrane has listened to it."),
                              TextStyle::caption, Brand::tertiaryText, QFont::Normal, Qt::AlignCenter);
  placeholder_->setObjectName(QStringLiteral("previewPlaceholder"));
  placeholder_->setFixedHeight(116);
  column->addWidget(placeholder_);

  strip_ = new QWidget(this);
  strip_->setObjectName(QStringLiteral("levelStrip"));
  auto* stripColumn = new QVBoxLayout(strip_);
  stripColumn->setContentsMargins(0, 0, 0, 0);
  stripColumn->setSpacing(2);
  waveform_ = new WaveformView(strip_);
  waveform_->setObjectName(QStringLiteral("waveform"));
  waveform_->setFloorDBFS(-75);
  waveform_->installEventFilter(this);
  stripColumn->addWidget(waveform_);
  scroll_ = new QScrollBar(Qt::Horizontal, strip_);
  scroll_->setObjectName(QStringLiteral("waveformScroll"));
  stripColumn->addWidget(scroll_);
  connect(scroll_, &QScrollBar::valueChanged, this, [this] { applyVisibleRange(); });
  column->addWidget(strip_);

  waveform_->onHover = [this](std::optional<double> t) { job_.setHoverPlayhead(t); };
  waveform_->onScrub = [this](double t) { job_.scrubAudition(t); };
  waveform_->onRangeEdit = [this](TimeRange range, bool keep) { editFromWaveform(range, keep, true); };
  waveform_->onSegmentAction = [this](TimeRange range, bool keep) { editFromWaveform(range, keep, false); };
  waveform_->onEdgeDragBegin = [this](double t, double tolerance) { return job_.beginEdgeDrag(t, tolerance); };
  waveform_->onEdgeDragChanged = [this](double t) { job_.updateEdgeDrag(t); };
  waveform_->onEdgeDragEnded = [this] { job_.endEdgeDrag(undo_); };

  // The player and what survives at the left, the switches and the zoom at the right; when the
  // window is too narrow for one line, the switches and the zoom move under it together.
  controls_ = new QWidget(this);
  auto* row = new WrappingRow(controls_);
  play_ = smallButton(QString(), "playCut", controls_);
  connect(play_, &QPushButton::clicked, this, [this] { job_.toggleAudition(); });
  row->addWidget(play_);
  readout_ = Brand::label(QString(), TextStyle::caption, Brand::secondaryText, QFont::Normal,
                          Qt::AlignLeft | Qt::AlignVCenter);
  readout_->setObjectName(QStringLiteral("previewReadout"));
  readout_->setWordWrap(false);
  row->addWidget(readout_);
  clearEdits_ = Brand::button(QStringLiteral("Clear all edits"), Brand::ButtonLook::link, false, controls_);
  clearEdits_->setFont(Brand::font(TextStyle::caption));
  clearEdits_->setObjectName(QStringLiteral("clearEdits"));
  clearEdits_->setCursor(Qt::PointingHandCursor);
  connect(clearEdits_, &QPushButton::clicked, this, [this] { job_.clearManualEdits(undo_); });
  row->addWidget(clearEdits_);
  row->addStretch();
  auto* switches = new QWidget(controls_);
  auto* switchRow = new QHBoxLayout(switches);
  switchRow->setContentsMargins(0, 0, 0, 0);
  switchRow->setSpacing(12);
  transcriptToggle_ =
      toggleButton(QStringLiteral("Transcript"), QStringLiteral("text.quote"), "showTranscript", switches);
  connect(transcriptToggle_, &QPushButton::toggled, this, [this](bool on) { setShowTranscript(on); });
  switchRow->addWidget(transcriptToggle_);
  editToggle_ = toggleButton(QStringLiteral("Edit"), QStringLiteral("scissors"), "editMode", switches);
  connect(editToggle_, &QPushButton::toggled, this, [this](bool on) { setEditing(on); });
  switchRow->addWidget(editToggle_);
  switchRow->addWidget(
      Brand::label(QStringLiteral("Zoom"), TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignVCenter));
  zoomSlider_ = new QSlider(Qt::Horizontal, switches);
  zoomSlider_->setObjectName(QStringLiteral("zoom"));
  zoomSlider_->setRange(zoomSteps, int(maxZoom) * zoomSteps);
  zoomSlider_->setFixedWidth(130);
  connect(zoomSlider_, &QSlider::valueChanged, this, [this](int v) { setZoom(double(v) / zoomSteps); });
  switchRow->addWidget(zoomSlider_);
  row->addWidget(switches);
  column->addWidget(controls_);

  transcriptBox_ = new QWidget(this);
  auto* transcriptColumn = new QVBoxLayout(transcriptBox_);
  transcriptColumn->setContentsMargins(0, 0, 0, 0);
  transcriptColumn->setSpacing(6);
  QLabel* howTo = Brand::label(QStringLiteral("Struck-through words get cut \u2014 hover one to see why. Click a word "
                                              "or drag across several (Shift-click extends), then choose Keep or "
                                              "Cut. Ctrl+Z undoes."),
                               TextStyle::caption, Brand::tertiaryText, QFont::Normal, Qt::AlignLeft);
  howTo->setWordWrap(true);
  transcriptColumn->addWidget(howTo);
  transcript_ = new TranscriptView(transcriptBox_);
  transcript_->setObjectName(QStringLiteral("transcript"));
  transcript_->setFixedHeight(240);
  transcript_->onForce = [this](int first, int last, bool keep) {
    job_.forceWords(std::size_t(first), std::size_t(last), keep, undo_);
  };
  transcriptColumn->addWidget(transcript_);
  column->addWidget(transcriptBox_);

  connect(&job_, &JobModel::auditionChanged, this, &CutPreviewSection::refreshPlayback);
  refresh();
}

void CutPreviewSection::refresh() {
  const std::vector<float>& levels = job_.levelsDBFS();
  const bool hasLevels = !levels.empty();
  sourceMissing_->setVisible(job_.sourceMissing());
  sourceMissingText_->setText(job_.sourceProblem());
  placeholder_->setVisible(!hasLevels);
  strip_->setVisible(hasLevels);
  controls_->setVisible(hasLevels);
  transcriptBox_->setVisible(hasLevels && showTranscript_);
  if (!hasLevels) {
    shownLevels_ = nullptr;
    shownLevelCount_ = 0;
    return;
  }
  // The sound is read ahead, so the first play does not wait for it.
  job_.prepareAudition();

  if (shownLevels_ != levels.data() || shownLevelCount_ != levels.size()) {
    shownLevels_ = levels.data();
    shownLevelCount_ = levels.size();
    waveform_->setLevels(levels, job_.levelHopDuration());
    applyVisibleRange();
  }
  std::vector<TimeRange> bands = job_.effectiveCutBands();
  if (bands != shownBands_) {
    shownBands_ = bands;
    waveform_->setCutBands(std::move(bands));
  }
  const auto handEdits = int(job_.manualKeeps().size() + job_.manualRemovals().size());
  readout_->setText(CutPreview::readout(job_.levelLength(), SilencePreview::totalDuration(shownBands_), handEdits));
  clearEdits_->setVisible(job_.hasManualEdits());
  play_->setEnabled(!job_.footagePath().isEmpty() && !job_.sourceMissing());
  refreshTranscript();
  refreshPlayback();
}

void CutPreviewSection::refreshTranscript() {
  if (!showTranscript_) return;
  const std::optional<Transcript>& words = job_.analysisTranscript();
  if (shownTranscript_ != job_.transcriptGeneration()) {
    shownTranscript_ = job_.transcriptGeneration();
    transcript_->setWords(words ? words->words : std::vector<TranscriptWord>{});
    shownTranscriptBands_.clear();
    shownReasons_ = ~std::uint64_t(0);
  }
  if (shownBands_ == shownTranscriptBands_ && shownReasons_ == job_.draftGeneration()) return;
  shownTranscriptBands_ = shownBands_;
  shownReasons_ = job_.draftGeneration();
  TranscriptCells::Sources sources;
  sources.cutReason = [this](double t) { return job_.cutReason(t); };
  transcript_->setCut(shownBands_, std::move(sources));
}

void CutPreviewSection::refreshPlayback() {
  const bool playing = job_.isAuditioning();
  play_->setText(playing ? QStringLiteral("Stop") : QStringLiteral("Play the cut"));
  play_->setIcon(
      Symbols::icon(playing ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"), Brand::primaryText, 12));
  waveform_->setPlayhead(job_.auditionPlayheadSeconds());
  waveform_->setHoverPlayhead(job_.hoverPlayheadSeconds());
}

void CutPreviewSection::editFromWaveform(TimeRange range, bool keep, bool snap) {
  job_.editStretch(range, keep, snap, undo_);
}

void CutPreviewSection::setEditing(bool on) {
  editing_ = on;
  if (editToggle_->isChecked() != on) editToggle_->setChecked(on);
  intro_->setText(on ? editText() : listenText());
  waveform_->setMode(on ? WaveformView::Mode::edit : WaveformView::Mode::listen);
}

void CutPreviewSection::setShowTranscript(bool on) {
  // Shown again, the transcript starts afresh: no selection, laid out anew.
  if (on && !showTranscript_) shownTranscript_.reset();
  showTranscript_ = on;
  if (transcriptToggle_->isChecked() != on) transcriptToggle_->setChecked(on);
  transcriptBox_->setVisible(on && !job_.levelsDBFS().empty());
  refreshTranscript();
}

double CutPreviewSection::contentWidth(double zoom) const {
  const double w = waveform_->width();
  return std::max(w, w * zoom);
}

double CutPreviewSection::scrollOffset() const { return scroll_->value(); }

void CutPreviewSection::setZoom(double zoom) {
  zoom = std::clamp(zoom, 1.0, maxZoom);
  if (zoom == zoom_) return;
  const double oldWidth = contentWidth(zoom_);
  const double newWidth = contentWidth(zoom);
  std::optional<double> playhead = job_.auditionPlayheadSeconds();
  if (!playhead) playhead = job_.lastPlayheadSeconds();
  const double offset = CutPreview::anchoredOffset(waveform_->width(), oldWidth, newWidth, scroll_->value(),
                                                   job_.levelLength(), playhead);
  zoom_ = zoom;
  {
    const QSignalBlocker quiet(zoomSlider_);
    zoomSlider_->setValue(int(std::lround(zoom * zoomSteps)));
  }
  const QSignalBlocker quiet(scroll_);
  applyVisibleRange();
  scroll_->setValue(int(std::lround(offset)));
  applyVisibleRange();
}

void CutPreviewSection::applyVisibleRange() {
  const double w = waveform_->width();
  const double width = contentWidth(zoom_);
  const double total = job_.levelLength();
  const int range = std::max(0, int(std::lround(width - w)));
  scroll_->setRange(0, range);
  scroll_->setPageStep(std::max(1, int(w)));
  scroll_->setSingleStep(20);
  // The scroll bar shows, and takes room under the waveform, only while zoomed in.
  scroll_->setVisible(zoom_ > 1);
  if (total <= 0 || width <= 0 || zoom_ <= 1) {
    waveform_->setVisibleRange(std::nullopt);
    return;
  }
  const double start = total * scroll_->value() / width;
  waveform_->setVisibleRange(TimeRange{start, start + total * w / width});
}

bool CutPreviewSection::eventFilter(QObject* watched, QEvent* event) {
  if (watched == waveform_ && event->type() == QEvent::Resize) applyVisibleRange();
  if (watched == waveform_ && event->type() == QEvent::Wheel && panWithWheel(*static_cast<QWheelEvent*>(event)))
    return true;
  return QWidget::eventFilter(watched, event);
}

bool CutPreviewSection::panWithWheel(const QWheelEvent& wheel) {
  if (zoom_ <= 1) return false;
  // Sideways scrolling, or Shift with the usual wheel, pans the zoomed waveform; the plain wheel
  // goes on scrolling the form.
  const bool shifted = wheel.modifiers() & Qt::ShiftModifier;
  const auto across = [&](QPoint delta) { return delta.x() != 0 ? delta.x() : (shifted ? delta.y() : 0); };
  int pixels = across(wheel.pixelDelta());
  if (pixels == 0) pixels = across(wheel.angleDelta()) * scroll_->singleStep() * QApplication::wheelScrollLines() / 120;
  if (pixels == 0) return false;
  scroll_->setValue(scroll_->value() - pixels);
  return true;
}

}  // namespace kestrane::app
