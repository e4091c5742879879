#pragma once
// The recording's loudness as violet bars with the removed stretches shaded, a playhead and a
// hover line. Listen mode: clicks and drags scrub, hovering aims the playhead. Edit mode: a drag
// proposes a stretch to keep or cut, a round button keeps or cuts the hovered stretch, and grips
// move band edges. The view holds no model state: it draws its inputs and reports gestures.
#include <QImage>
#include <QWidget>

#include <cstdint>

#include <functional>
#include <optional>
#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane::app {

class WaveformView : public QWidget {
  Q_OBJECT

 public:
  enum class Mode { listen, edit };

  explicit WaveformView(QWidget* parent = nullptr);

  void setLevels(std::vector<float> levels, double hopDuration);
  void setCutBands(std::vector<TimeRange> bands);
  void setPlayhead(std::optional<double> seconds);
  void setHoverPlayhead(std::optional<double> seconds);
  void setMode(Mode mode);
  Mode mode() const { return mode_; }
  // The stretch of source time spread over the width; the whole recording by default.
  void setVisibleRange(std::optional<TimeRange> range);
  void setFloorDBFS(double floor) {
    floor_ = floor;
    ++inputsVersion_;
    update();
  }

  std::function<void(std::optional<double>)> onHover;
  std::function<void(double)> onScrub;
  std::function<void(TimeRange, bool keep)> onRangeEdit;
  std::function<void(TimeRange, bool keep)> onSegmentAction;
  std::function<bool(double, double tolerance)> onEdgeDragBegin;
  std::function<void(double)> onEdgeDragChanged;
  std::function<void()> onEdgeDragEnded;

  // Where the hover button sits, when it shows (tests and the screenshots).
  std::optional<QRectF> hoverButtonRect() const;
  std::optional<TimeRange> selection() const { return selection_; }
  double secondsAt(double x) const;
  double xAt(double seconds) const;
  QSize sizeHint() const override { return {600, 116}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  bool event(QEvent*) override;

 private:
  enum class Phase { idle, selecting, scrubbing, draggingEdge };
  struct HoverSegment {
    TimeRange range;
    bool isCut = false;
    double anchorX = 0;
  };
  struct Stretch {
    TimeRange range;
    bool isCut = false;
  };

  double total() const { return hopDuration_ * double(levels_.size()); }
  TimeRange visible() const;
  double tolerance() const;
  Stretch stretchAt(double t) const;
  std::optional<double> nearestEdge(double t, double tolerance) const;
  // The loudest level of each column at the current width and zoom, computed once per both.
  const std::vector<float>& columns();
  void paintLayer();
  void paintGrip(QPainter& p, double edge, bool lit) const;
  void hover(double x);
  void dragTo(const QPointF& at);
  void endDrag();

  std::vector<float> levels_;
  double hopDuration_ = 0.01;
  std::vector<TimeRange> bands_;
  std::optional<double> playhead_;
  std::optional<double> hoverPlayhead_;
  Mode mode_ = Mode::listen;
  std::optional<TimeRange> zoom_;
  double floor_ = -75;

  std::vector<float> columns_;
  int columnsWidth_ = -1;
  TimeRange columnsRange_{-1, -1};

  struct LayerKey {
    QSize size;
    TimeRange range;
    Mode mode = Mode::listen;
    std::uint64_t inputs = 0;
    friend bool operator==(const LayerKey&, const LayerKey&) = default;
  };
  std::uint64_t inputsVersion_ = 0;
  QImage layer_;
  LayerKey layerKey_;

  Phase phase_ = Phase::idle;
  bool selectKeep_ = false;
  double selectStart_ = 0;
  double pressX_ = 0;
  bool pressed_ = false;
  std::optional<TimeRange> selection_;
  std::optional<HoverSegment> hoverSegment_;
  std::optional<double> hoveredEdge_;
  std::optional<double> dragPointer_;
};

}  // namespace kestrane::app
