#include "app/views/BrandWidgets.hpp"

#include <QEasingCurve>
#include <QPainter>
#include <QRadialGradient>
#include <QSvgRenderer>

#include "app/views/Brand.hpp"
#include "app/views/Symbols.hpp"

namespace kestrane::app {

Wordmark::Wordmark(int pixelSize, QWidget* parent) : QLabel(parent) {
  QFont f = Brand::font(Brand::TextStyle::body, QFont::Bold);
  f.setPointSizeF(pixelSize * 0.75);
  f.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
  setFont(f);
  setTextFormat(Qt::RichText);
  setAlignment(Qt::AlignCenter);
  setText(QStringLiteral("<span style=\"color:%1\">Kest</span><span style=\"color:%2\">rane</span>")
              .arg(Brand::hex(Brand::wordmarkWhite), Brand::hex(Brand::accent)));
}

namespace {
constexpr int glyphHeight = 120;
constexpr int glowMargin = 30;
}  // namespace

BrandGlyph::BrandGlyph(QWidget* parent) : QWidget(parent) {
  animation_.setDuration(150);
  animation_.setEasingCurve(QEasingCurve::OutCubic);
  connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    emphasis_ = v.toReal();
    update();
  });
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BrandGlyph::sizeHint() const { return {glyphHeight + 2 * glowMargin, glyphHeight + 2 * glowMargin}; }

void BrandGlyph::setTargeted(bool targeted) {
  if (targeted == targeted_) return;
  targeted_ = targeted;
  animation_.stop();
  animation_.setStartValue(emphasis_);
  animation_.setEndValue(targeted ? 1.0 : 0.0);
  animation_.start();
}

void BrandGlyph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const QPointF centre = rect().center();
  const qreal scale = 1.0 + 0.07 * emphasis_;
  const qreal side = glyphHeight * scale;
  const QRectF box(centre.x() - side / 2, centre.y() - side / 2, side, side);

  // The glow: the accent fading out around the glyph, stronger and wider while targeted.
  const qreal radius = side / 2 + 14 + 8 * emphasis_;
  QColor glow = Brand::accent;
  glow.setAlphaF(0.25 + 0.35 * emphasis_);
  QRadialGradient gradient(centre, radius);
  gradient.setColorAt(0.0, glow);
  gradient.setColorAt(side / 2 / radius * 0.8, glow);
  gradient.setColorAt(1.0, Qt::transparent);
  p.setPen(Qt::NoPen);
  p.setBrush(gradient);
  p.drawEllipse(centre, radius, radius);

  static QSvgRenderer renderer(QStringLiteral(":/kestrane/glyph.svg"));
  if (renderer.isValid()) {
    renderer.render(&p, box);
  } else {
    const qreal fallback = 56 * scale;
    Symbols::paint(p, QStringLiteral("scissors"),
                   QRectF(centre.x() - fallback / 2, centre.y() - fallback / 2, fallback, fallback), Brand::accent);
  }
}

Spinner::Spinner(int size, QWidget* parent) : QWidget(parent), size_(size) {
  setFixedSize(size, size);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
  timer_.start(80);
}

void Spinner::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(rect().center());
  const qreal r = size_ / 2.0;
  for (int i = 0; i < 12; ++i) {
    QColor c = Brand::primaryText;
    c.setAlphaF(0.2 + 0.8 * ((12 + i - step_) % 12) / 11.0);
    p.setPen(QPen(c, r * 0.16, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -r * 0.5), QPointF(0, -r * 0.92));
    p.rotate(30);
  }
}

}  // namespace kestrane::app
