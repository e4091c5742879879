#include "app/views/DraftPreview.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "app/views/Brand.hpp"
#include "kestrane/analysis/SilencePreview.hpp"

namespace kestrane::app {

namespace {
// The levels drawn: quieter than the floor is no bar, the ceiling a full one.
constexpr double floorDBFS = -60;
constexpr double ceilingDBFS = 0;
}  // namespace

LevelStrip::LevelStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("levelStrip"));
  setFixedHeight(116);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelStrip::setDraft(const std::vector<float>& levels, double hopDuration, std::vector<TimeRange> bands) {
  bands_ = std::move(bands);
  hopDuration_ = hopDuration;
  // The envelope is the costly part; a new draft over the same levels only moves the bands.
  if (levels_ != &levels || levelData_ != levels.data() || levelCount_ != levels.size()) {
    levels_ = &levels;
    levelData_ = levels.data();
    levelCount_ = levels.size();
    rebuildColumns();
  }
  update();
}

void LevelStrip::resizeEvent(QResizeEvent*) { rebuildColumns(); }

void LevelStrip::rebuildColumns() {
  columns_ = levels_ ? SilencePreview::envelope(*levels_, std::max(1, width())) : std::vector<float>{};
}

void LevelStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = rect();
  QPainterPath shape;
  shape.addRoundedRect(box, 8, 8);
  p.fillPath(shape, QColor(18, 17, 22));
  p.setClipPath(shape);

  const double mid = box.height() / 2;
  const double reach = mid - 8;
  p.setPen(Qt::NoPen);
  p.setBrush(Brand::accent);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const double level = std::clamp(static_cast<double>(columns_[c]), floorDBFS, ceilingDBFS);
    const double half = std::max(0.5, reach * (level - floorDBFS) / (ceilingDBFS - floorDBFS));
    p.drawRect(QRectF(static_cast<double>(c), mid - half, 1, 2 * half));
  }

  const double total = hopDuration_ * static_cast<double>(levelCount_);
  if (total <= 0) return;
  const double scale = box.width() / total;
  for (const TimeRange& band : bands_) {
    const QRectF shade(band.start * scale, 0, std::max(1.0, (band.end - band.start) * scale), box.height());
    p.fillRect(shade, QColor(0, 0, 0, 150));
    p.fillRect(shade, QColor(255, 120, 40, 45));
  }
}

DraftPreview::DraftPreview(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("cutPreview"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  placeholder_ = Brand::label(QStringLiteral("Your audio appears here once Kestrane has listened to it."),
                              Brand::TextStyle::callout, Brand::secondaryText);
  placeholder_->setObjectName(QStringLiteral("previewPlaceholder"));
  placeholder_->setMinimumHeight(60);
  column->addWidget(placeholder_);
  strip_ = new LevelStrip(this);
  column->addWidget(strip_);
  strip_->hide();
}

void DraftPreview::setDraft(const std::vector<float>& levels, double hopDuration, std::vector<TimeRange> bands) {
  placeholder_->setVisible(levels.empty());
  strip_->setVisible(!levels.empty());
  strip_->setDraft(levels, hopDuration, std::move(bands));
}

}  // namespace kestrane::app
