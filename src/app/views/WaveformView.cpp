#include "app/views/WaveformView.hpp"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/core/HandEdits.hpp"
#include "app/views/Brand.hpp"

namespace kestrane::app {

namespace {

constexpr double grabPoints = 8;
constexpr double selectTravel = 4;
constexpr double shortestSelection = 0.04;
constexpr double buttonSize = 20;

// Blends `colour` over whole pixel columns of `image` directly: one fill call per band costs far
// more in the raster engine's set-up than the pixels themselves.
void shadeColumns(QImage& image, const QVector<QRect>& rects, const QColor& colour) {
  const qreal ratio = image.devicePixelRatio();
  const QRgb over = qPremultiply(colour.rgba());
  const uint keep = 255 - qAlpha(over);
  const auto blend = [&](QRgb d) {
    const auto ch = [&](int shift) { return (((d >> shift) & 0xff) * keep + 127) / 255 + ((over >> shift) & 0xff); };
    return QRgb((ch(24) << 24) | (ch(16) << 16) | (ch(8) << 8) | ch(0));
  };
  for (const QRect& r : rects) {
    const int left = std::max(0, int(std::floor(r.left() * ratio)));
    const int right = std::min(image.width(), int(std::ceil((r.right() + 1) * ratio)));
    const int bottom = std::min(image.height(), int(std::ceil((r.bottom() + 1) * ratio)));
    for (int y = std::max(0, int(r.top() * ratio)); y < bottom; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = left; x < right; ++x) line[x] = blend(line[x]);
    }
  }
}

QColor withAlpha(QColor c, double opacity) {
  c.setAlphaF(float(opacity));
  return c;
}

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFixedHeight(116);
  setMinimumWidth(200);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setMode(Mode::listen);
}

void WaveformView::setLevels(std::vector<float> levels, double hopDuration) {
  levels_ = std::move(levels);
  hopDuration_ = hopDuration;
  columnsWidth_ = -1;
  ++inputsVersion_;
  update();
}

void WaveformView::setCutBands(std::vector<TimeRange> bands) {
  bands_ = std::move(bands);
  ++inputsVersion_;
  update();
}

void WaveformView::setPlayhead(std::optional<double> seconds) {
  if (playhead_ == seconds) return;
  playhead_ = seconds;
  update();
}

void WaveformView::setHoverPlayhead(std::optional<double> seconds) {
  if (hoverPlayhead_ == seconds) return;
  hoverPlayhead_ = seconds;
  update();
}

void WaveformView::setMode(Mode mode) {
  mode_ = mode;
  hoveredEdge_.reset();
  hoverSegment_.reset();
  selection_.reset();
  dragPointer_.reset();
  unsetCursor();
  setAccessibleName(
      mode == Mode::listen
          ? QStringLiteral("Your audio in purple; the shaded stretches are what gets cut. Click anywhere to play "
                           "the cut from that point.")
          : QStringLiteral("Your audio in purple; the shaded stretches are what gets cut. Drag across audio to "
                           "keep or cut it; hover a stretch for its keep or cut button; drag an edge grip to "
                           "move an in or out point."));
  update();
}

void WaveformView::setVisibleRange(std::optional<TimeRange> range) {
  zoom_ = range;
  update();
}

TimeRange WaveformView::visible() const {
  if (zoom_ && zoom_->duration() > 0) return *zoom_;
  return {0, total()};
}

double WaveformView::secondsAt(double x) const {
  const TimeRange v = visible();
  const double w = width();
  if (w <= 0) return v.start;
  return std::clamp(v.start + v.duration() * x / w, 0.0, total());
}

double WaveformView::xAt(double seconds) const {
  const TimeRange v = visible();
  return v.duration() > 0 ? (seconds - v.start) / v.duration() * width() : 0;
}

double WaveformView::tolerance() const { return width() > 0 ? grabPoints / width() * visible().duration() : 0; }

WaveformView::Stretch WaveformView::stretchAt(double t) const {
  const TimeRange span = HandEdits::segmentSpan(t, bands_, total());
  const auto byStart = [](const TimeRange& x, const TimeRange& y) { return x.start < y.start; };
  return {span, std::binary_search(bands_.begin(), bands_.end(), span, byStart)};
}

std::optional<double> WaveformView::nearestEdge(double t, double tolerance) const {
  std::optional<double> best;
  double distance = 0;
  for (const TimeRange& band : bands_) {
    for (const double edge : {band.start, band.end}) {
      const double d = std::abs(edge - t);
      if (d > tolerance || (best && d >= distance)) continue;
      best = edge;
      distance = d;
    }
  }
  return best;
}

const std::vector<float>& WaveformView::columns() {
  const int n = std::max(1, width());
  const TimeRange v = visible();
  if (n == columnsWidth_ && v == columnsRange_) return columns_;
  columnsWidth_ = n;
  columnsRange_ = v;
  columns_.assign(std::size_t(n), -std::numeric_limits<float>::infinity());
  const auto count = std::int64_t(levels_.size());
  for (int i = 0; i < n; ++i) {
    const double a = v.start + v.duration() * i / n;
    const double b = v.start + v.duration() * (i + 1) / n;
    const auto first = std::clamp<std::int64_t>(std::int64_t(std::floor(a / hopDuration_)), 0, count);
    const auto last = std::clamp<std::int64_t>(std::int64_t(std::ceil(b / hopDuration_)), first, count);
    if (first < last) {
      columns_[std::size_t(i)] = *std::max_element(levels_.begin() + first, levels_.begin() + last);
    }
  }
  return columns_;
}

std::optional<QRectF> WaveformView::hoverButtonRect() const {
  if (mode_ != Mode::edit || phase_ != Phase::idle || !hoverSegment_ || total() <= 0) return std::nullopt;
  const double x0 = xAt(hoverSegment_->range.start);
  const double x1 = xAt(hoverSegment_->range.end);
  const double cx = x1 - x0 < 30 ? (x0 + x1) / 2 : std::min(std::max(hoverSegment_->anchorX, x0 + 15), x1 - 15);
  return QRectF(cx - buttonSize / 2, 16 - buttonSize / 2, buttonSize, buttonSize);
}

void WaveformView::paintLayer() {
  QPainter p(&layer_);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(Qt::NoPen);
  p.setBrush(withAlpha(Qt::black, 0.25));
  p.drawRoundedRect(frame, 6, 6);
  const double w = width();
  const double h = height();
  const double mid = h / 2;
  if (!levels_.empty() && total() > 0) {
    // Bars: one rectangle per column, filled in one call.
    const std::vector<float>& env = columns();
    // Whole pixels: the raster engine fills those without rasterising a path for each.
    QVector<QRect> bars;
    bars.reserve(qsizetype(env.size()));
    for (std::size_t i = 0; i < env.size(); ++i) {
      const double v = std::min(std::max(double(env[i]), floor_), 0.0);
      const double half = std::max(mid * (v - floor_) / -floor_, 0.5);
      const int top = int(std::floor(mid - half));
      bars.append(QRect(int(i), top, 1, std::max(1, int(std::ceil(mid + half)) - top)));
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Brand::accent);
    p.drawRects(bars);
    // Black at 55 % under orange at 15 %, folded into one colour so all bands fill in one call.
    constexpr double shade = 0.55;
    constexpr double wash = 0.15;
    const double cover = 1 - (1 - shade) * (1 - wash);
    const QColor bandColour =
        QColor::fromRgbF(float(Brand::orange.redF() * wash / cover), float(Brand::orange.greenF() * wash / cover),
                         float(Brand::orange.blueF() * wash / cover), float(cover));
    // Whole pixels too; bands sharing a pixel column are filled once, so none is darker.
    QVector<QRect> shaded;
    for (const TimeRange& band : bands_) {
      const double x = xAt(band.start);
      if (x > w || xAt(band.end) < 0) continue;
      const int left = int(std::floor(x));
      const int right = std::max(left + 1, int(std::ceil(std::max(xAt(band.end), x + 0.75))));
      if (!shaded.isEmpty() && left <= shaded.back().right() + 1) {
        shaded.back().setRight(std::max(shaded.back().right(), right - 1));
      } else {
        shaded.append(QRect(left, 0, right - left, int(h)));
      }
    }
    p.end();
    shadeColumns(layer_, shaded, bandColour);
    p.begin(&layer_);
    p.setRenderHint(QPainter::Antialiasing);
    if (mode_ == Mode::edit) {
      for (const TimeRange& band : bands_) {
        for (const double edge : {band.start, band.end}) paintGrip(p, edge, false);
      }
    }
  }
  p.setPen(QPen(withAlpha(palette().color(QPalette::PlaceholderText), 0.2), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(frame, 6, 6);
}

void WaveformView::paintGrip(QPainter& p, double edge, bool lit) const {
  const double x = xAt(edge);
  if (x < -12 || x > width() + 12) return;
  const QColor c = lit ? QColor(Qt::white) : Brand::orange;
  p.setPen(QPen(c, lit ? 2.5 : 2));
  p.drawLine(QPointF(x, 0), QPointF(x, height()));
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  const double gw = lit ? 9 : 6;
  const double gh = lit ? 24 : 16;
  p.drawRoundedRect(QRectF(x - gw / 2, height() / 2.0 - gh / 2, gw, gh), 2.5, 2.5);
}

void WaveformView::paintEvent(QPaintEvent*) {
  // Levels, bands and resting grips change only with the inputs, the size or the zoom: they are
  // painted once into a layer, and each frame adds what moves.
  const LayerKey key{size(), visible(), mode_, inputsVersion_};
  const qreal ratio = devicePixelRatioF();
  if (!(key == layerKey_) || layer_.isNull()) {
    layer_ = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    layer_.setDevicePixelRatio(ratio);
    layer_.fill(Qt::transparent);
    paintLayer();
    layerKey_ = key;
  }
  QPainter p(this);
  p.drawImage(0, 0, layer_);
  if (levels_.empty() || total() <= 0) return;
  p.setRenderHint(QPainter::Antialiasing);
  const double w = width();
  const double h = height();
  if (mode_ == Mode::listen && !playhead_ && hoverPlayhead_) {
    p.setPen(QPen(withAlpha(Qt::white, 0.45), 1));
    p.drawLine(QPointF(xAt(*hoverPlayhead_), 0), QPointF(xAt(*hoverPlayhead_), h));
  }
  if (mode_ == Mode::edit) {
    std::optional<double> active;
    if (dragPointer_) active = nearestEdge(*dragPointer_, 3 * tolerance());
    if (!active) active = hoveredEdge_;
    if (active) paintGrip(p, *active, true);
    if (selection_ && phase_ == Phase::selecting) {
      const QColor c = selectKeep_ ? Brand::green : Brand::red;
      const double x0 = xAt(selection_->start);
      const QRectF r(x0, 0, std::max(xAt(selection_->end) - x0, 1.0), h);
      p.setBrush(withAlpha(c, 0.18));
      p.setPen(QPen(withAlpha(c, 0.9), 1.5));
      p.drawRect(r);
      QFont f = font();
      f.setPixelSize(11);
      f.setBold(true);
      p.setFont(f);
      const QString text = selectKeep_ ? QStringLiteral("Keep") : QStringLiteral("Cut");
      const QSizeF ts = QFontMetricsF(f).size(Qt::TextSingleLine, text);
      const double cx = std::min(std::max(r.center().x(), ts.width() / 2 + 6), w - ts.width() / 2 - 6);
      const QRectF pill(cx - ts.width() / 2 - 6, 4, ts.width() + 12, ts.height() + 4);
      p.setPen(Qt::NoPen);
      p.setBrush(withAlpha(c, 0.9));
      p.drawRoundedRect(pill, pill.height() / 2, pill.height() / 2);
      p.setPen(Qt::white);
      p.drawText(pill, Qt::AlignCenter, text);
    }
    if (const auto button = hoverButtonRect()) {
      const QColor c = hoverSegment_->isCut ? Brand::green : Brand::red;
      p.setPen(Qt::NoPen);
      p.setBrush(withAlpha(Qt::black, 0.33));
      p.drawEllipse(button->adjusted(-1, -1, 1, 1));
      p.setBrush(withAlpha(c, 0.9));
      p.drawEllipse(*button);
      p.setPen(QPen(withAlpha(Qt::white, 0.6), 1));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(button->adjusted(0.5, 0.5, -0.5, -0.5));
      // "+" brings a cut stretch back, "×" cuts a kept one.
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
      const QPointF o = button->center();
      const double a = hoverSegment_->isCut ? 4.5 : 3.5;
      if (hoverSegment_->isCut) {
        p.drawLine(o + QPointF(-a, 0), o + QPointF(a, 0));
        p.drawLine(o + QPointF(0, -a), o + QPointF(0, a));
      } else {
        p.drawLine(o + QPointF(-a, -a), o + QPointF(a, a));
        p.drawLine(o + QPointF(-a, a), o + QPointF(a, -a));
      }
    }
  }
  if (playhead_) {
    p.setPen(QPen(Qt::white, 1.5));
    p.drawLine(QPointF(xAt(*playhead_), 0), QPointF(xAt(*playhead_), h));
  }
}

void WaveformView::hover(double x) {
  if (width() <= 0 || total() <= 0) return;
  const double t = secondsAt(x);
  if (mode_ == Mode::listen) {
    hoveredEdge_.reset();
    hoverSegment_.reset();
    if (onHover) onHover(t);
    return;
  }
  if (onHover) onHover(std::nullopt);
  hoveredEdge_ = nearestEdge(t, tolerance());
  if (hoveredEdge_) setCursor(Qt::SizeHorCursor);
  else unsetCursor();
  const Stretch s = stretchAt(t);
  if (!hoverSegment_ || hoverSegment_->range != s.range || hoverSegment_->isCut != s.isCut) {
    hoverSegment_ = HoverSegment{s.range, s.isCut, x};
  }
  update();
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (const auto button = hoverButtonRect(); button && button->contains(event->position())) {
    const HoverSegment segment = *hoverSegment_;
    hoverSegment_.reset();
    update();
    if (onSegmentAction) onSegmentAction(segment.range, segment.isCut);
    return;
  }
  pressed_ = true;
  pressX_ = event->position().x();
  dragTo(event->position());
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
  if (pressed_) dragTo(event->position());
  else hover(event->position().x());
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  endDrag();
  hover(event->position().x());
}

void WaveformView::leaveEvent(QEvent*) {
  hoveredEdge_.reset();
  hoverSegment_.reset();
  if (onHover) onHover(std::nullopt);
  unsetCursor();
  update();
}

bool WaveformView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    if (const auto button = hoverButtonRect(); button && button->contains(help->pos())) {
      QToolTip::showText(
          help->globalPos(),
          hoverSegment_->isCut ? QStringLiteral("Keep this stretch") : QStringLiteral("Cut this stretch"), this);
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QWidget::event(event);
}

void WaveformView::dragTo(const QPointF& at) {
  if (width() <= 0 || total() <= 0) return;
  const double t = secondsAt(at.x());
  if (phase_ == Phase::idle) {
    if (mode_ == Mode::listen) {
      phase_ = Phase::scrubbing;
    } else if (onEdgeDragBegin && onEdgeDragBegin(t, tolerance())) {
      phase_ = Phase::draggingEdge;
    } else {
      phase_ = Phase::selecting;
      selectStart_ = secondsAt(pressX_);
      selectKeep_ = stretchAt(selectStart_).isCut;
    }
  }
  switch (phase_) {
    case Phase::scrubbing:
      if (onScrub) onScrub(t);
      break;
    case Phase::draggingEdge:
      dragPointer_ = t;
      if (onEdgeDragChanged) onEdgeDragChanged(t);
      break;
    case Phase::selecting:
      if (std::abs(at.x() - pressX_) > selectTravel) {
        selection_ = TimeRange{std::min(selectStart_, t), std::max(selectStart_, t)};
      }
      break;
    case Phase::idle: break;
  }
  update();
}

void WaveformView::endDrag() {
  if (phase_ == Phase::draggingEdge) {
    dragPointer_.reset();
    hoverSegment_.reset();
    if (onEdgeDragEnded) onEdgeDragEnded();
  } else if (phase_ == Phase::selecting && selection_ && selection_->duration() > shortestSelection) {
    hoverSegment_.reset();
    const TimeRange picked = *selection_;
    phase_ = Phase::idle;
    selection_.reset();
    if (onRangeEdit) onRangeEdit(picked, selectKeep_);
  }
  phase_ = Phase::idle;
  selection_.reset();
  update();
}

}  // namespace kestrane::app
