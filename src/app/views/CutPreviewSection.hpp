#pragma once
// The cut before it is made, inside the options screen: the waveform with the shaded removals
// (zoom and scroll, play from any point, edit by hand), the player row with its readout, and the
// word transcript. It holds only zoom, the two switches and the scroll position; everything else
// is the job model's, and every change goes through it.
#include <QWidget>

#include <optional>
#include <vector>

#include "app/core/JobModel.hpp"

class QLabel;
class QPushButton;
class QScrollBar;
class QSlider;
class QUndoStack;
class QWheelEvent;

namespace kestrane::app {

class TranscriptView;
class WaveformView;

namespace CutPreview {
// "1m 20s of 3m 5s survives. 2 hand edits." for bands removing `cut` of `total` seconds.
QString readout(double total, double cut, int handEdits);
// The scroll offset that keeps the playhead, when it is in view, or else the viewport's centre in
// place when the waveform widens from `oldWidth` to `newWidth` (pixels; `viewport` wide).
double anchoredOffset(double viewport, double oldWidth, double newWidth, double offset, double total,
                      std::optional<double> playhead);
}  // namespace CutPreview

class CutPreviewSection : public QWidget {
 public:
  // `undo` receives every hand edit; none: edits apply without undo steps.
  CutPreviewSection(JobModel& job, QUndoStack* undo, QWidget* parent = nullptr);

  // The model changed: levels, bands, edits, the source.
  void refresh();
  double zoom() const { return zoom_; }
  void setZoom(double zoom);
  void setEditing(bool on);
  void setShowTranscript(bool on);
  // The horizontal scroll offset, in pixels of the widened waveform.
  double scrollOffset() const;
  WaveformView* waveform() const { return waveform_; }
  TranscriptView* transcript() const { return transcript_; }

 protected:
  // The waveform's width decides the scroll range; the wheel over it pans it when zoomed.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refreshPlayback();
  void refreshTranscript();
  void applyVisibleRange();
  // Pans the zoomed waveform for a sideways or shifted wheel; false when the wheel is not for it.
  bool panWithWheel(const QWheelEvent& wheel);
  double contentWidth(double zoom) const;
  void editFromWaveform(TimeRange range, bool keep, bool snap);

  JobModel& job_;
  QUndoStack* undo_;
  double zoom_ = 1;
  bool editing_ = false;
  bool showTranscript_ = false;

  QLabel* intro_;
  QWidget* sourceMissing_;
  QLabel* sourceMissingText_;
  QLabel* placeholder_;
  QWidget* strip_;
  WaveformView* waveform_;
  QScrollBar* scroll_;
  QWidget* controls_;
  QPushButton* play_;
  QLabel* readout_;
  QPushButton* clearEdits_;
  QPushButton* transcriptToggle_;
  QPushButton* editToggle_;
  QSlider* zoomSlider_;
  QWidget* transcriptBox_;
  TranscriptView* transcript_;

  // What the views were last given, so a refresh hands over only what changed.
  const float* shownLevels_ = nullptr;
  std::size_t shownLevelCount_ = 0;
  std::vector<TimeRange> shownBands_;
  std::optional<std::uint64_t> shownTranscript_;  // the model's transcript generation
  std::vector<TimeRange> shownTranscriptBands_;
  std::uint64_t shownReasons_ = ~std::uint64_t(0);
};

}  // namespace kestrane::app
