#include "app/views/Symbols.hpp"

#include <QPainterPath>
#include <QtMath>

#include <algorithm>

namespace kestrane::app::Symbols {

namespace {

QPen strokePen(const QColor& colour, qreal width) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void checkmark(QPainter& p, const QRectF& b, const QColor& colour, qreal width) {
  QPainterPath tick;
  tick.moveTo(b.left() + b.width() * 0.28, b.top() + b.height() * 0.52);
  tick.lineTo(b.left() + b.width() * 0.44, b.top() + b.height() * 0.68);
  tick.lineTo(b.left() + b.width() * 0.73, b.top() + b.height() * 0.35);
  p.setPen(strokePen(colour, width));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tick);
}

void filledCircle(QPainter& p, const QRectF& b, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(b.adjusted(b.width() * 0.04, b.height() * 0.04, -b.width() * 0.04, -b.height() * 0.04));
}

void seal(QPainter& p, const QRectF& b, const QColor& colour) {
  QPainterPath path;
  const QPointF c = b.center();
  const int points = 12;
  for (int i = 0; i <= points * 2; ++i) {
    const qreal angle = M_PI * i / points - M_PI / 2;
    const qreal r = (i % 2 ? 0.42 : 0.5) * b.width();
    const QPointF pt(c.x() + r * std::cos(angle), c.y() + r * std::sin(angle));
    i == 0 ? path.moveTo(pt) : path.lineTo(pt);
  }
  p.setPen(strokePen(colour, b.width() * 0.06));
  p.setBrush(colour);
  p.drawPath(path);
}

void scissors(QPainter& p, const QRectF& b, const QColor& colour) {
  const qreal w = b.width();
  p.setPen(strokePen(colour, w * 0.08));
  p.setBrush(Qt::NoBrush);
  const QRectF ringA(b.left() + w * 0.08, b.top() + w * 0.56, w * 0.3, w * 0.3);
  const QRectF ringB(b.left() + w * 0.56, b.top() + w * 0.56, w * 0.3, w * 0.3);
  p.drawEllipse(ringA);
  p.drawEllipse(ringB);
  p.drawLine(QPointF(ringA.right() - w * 0.04, ringA.top() + w * 0.04),
             QPointF(b.left() + w * 0.78, b.top() + w * 0.1));
  p.drawLine(QPointF(ringB.left() + w * 0.04, ringB.top() + w * 0.04), QPointF(b.left() + w * 0.22, b.top() + w * 0.1));
}

}  // namespace

void paint(QPainter& p, const QString& name, const QRectF& b, const QColor& colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = b.width();
  if (name == QLatin1String("checkmark.circle.fill")) {
    filledCircle(p, b, colour);
    checkmark(p, b, Qt::black, w * 0.11);
  } else if (name == QLatin1String("arrow.right.circle.fill")) {
    filledCircle(p, b, colour);
    QPainterPath arrow;
    arrow.moveTo(b.left() + w * 0.27, b.center().y());
    arrow.lineTo(b.left() + w * 0.72, b.center().y());
    arrow.moveTo(b.left() + w * 0.52, b.top() + w * 0.3);
    arrow.lineTo(b.left() + w * 0.73, b.center().y());
    arrow.lineTo(b.left() + w * 0.52, b.top() + w * 0.7);
    p.setPen(strokePen(Qt::white, w * 0.1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arrow);
  } else if (name == QLatin1String("circle")) {
    p.setPen(strokePen(colour, w * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(b.adjusted(w * 0.08, w * 0.08, -w * 0.08, -w * 0.08));
  } else if (name == QLatin1String("exclamationmark.triangle.fill")) {
    QPainterPath tri;
    tri.moveTo(b.center().x(), b.top() + w * 0.06);
    tri.lineTo(b.right() - w * 0.02, b.bottom() - w * 0.1);
    tri.lineTo(b.left() + w * 0.02, b.bottom() - w * 0.1);
    tri.closeSubpath();
    p.setPen(strokePen(colour, w * 0.08));
    p.setBrush(colour);
    p.drawPath(tri);
    p.setPen(strokePen(Qt::black, w * 0.09));
    p.drawLine(QPointF(b.center().x(), b.top() + w * 0.36), QPointF(b.center().x(), b.top() + w * 0.6));
    p.drawPoint(QPointF(b.center().x(), b.top() + w * 0.74));
  } else if (name == QLatin1String("checkmark.seal.fill")) {
    seal(p, b, colour);
    checkmark(p, b, Qt::white, w * 0.09);
  } else if (name == QLatin1String("scissors")) {
    scissors(p, b, colour);
  } else if (name == QLatin1String("arrow.up.forward.app")) {
    p.setPen(strokePen(colour, w * 0.09));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(b.adjusted(w * 0.1, w * 0.18, -w * 0.18, -w * 0.1), w * 0.15, w * 0.15);
    p.drawLine(QPointF(b.left() + w * 0.45, b.top() + w * 0.55), QPointF(b.right() - w * 0.06, b.top() + w * 0.06));
    p.drawLine(QPointF(b.right() - w * 0.38, b.top() + w * 0.06), QPointF(b.right() - w * 0.06, b.top() + w * 0.06));
    p.drawLine(QPointF(b.right() - w * 0.06, b.top() + w * 0.06), QPointF(b.right() - w * 0.06, b.top() + w * 0.38));
  } else if (name == QLatin1String("play.rectangle")) {
    p.setPen(strokePen(colour, w * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(b.adjusted(w * 0.06, w * 0.18, -w * 0.06, -w * 0.18), w * 0.12, w * 0.12);
    QPainterPath play;
    play.moveTo(b.left() + w * 0.42, b.top() + w * 0.36);
    play.lineTo(b.left() + w * 0.64, b.center().y());
    play.lineTo(b.left() + w * 0.42, b.top() + w * 0.64);
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(play);
  } else if (name == QLatin1String("folder")) {
    QPainterPath folder;
    folder.moveTo(b.left() + w * 0.06, b.top() + w * 0.22);
    folder.lineTo(b.left() + w * 0.38, b.top() + w * 0.22);
    folder.lineTo(b.left() + w * 0.46, b.top() + w * 0.32);
    folder.lineTo(b.right() - w * 0.06, b.top() + w * 0.32);
    folder.lineTo(b.right() - w * 0.06, b.bottom() - w * 0.16);
    folder.lineTo(b.left() + w * 0.06, b.bottom() - w * 0.16);
    folder.closeSubpath();
    p.setPen(strokePen(colour, w * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawPath(folder);
  } else if (name == QLatin1String("slider.horizontal.3")) {
    p.setPen(strokePen(colour, w * 0.08));
    const qreal knobs[] = {0.3, 0.68, 0.45};
    for (int i = 0; i < 3; ++i) {
      const qreal y = b.top() + w * (0.22 + 0.28 * i);
      p.drawLine(QPointF(b.left() + w * 0.06, y), QPointF(b.right() - w * 0.06, y));
      p.setBrush(colour);
      p.drawEllipse(QPointF(b.left() + w * knobs[i], y), w * 0.08, w * 0.08);
    }
  } else if (name == QLatin1String("bookmark.fill")) {
    QPainterPath mark;
    mark.moveTo(b.left() + w * 0.24, b.top() + w * 0.08);
    mark.lineTo(b.right() - w * 0.24, b.top() + w * 0.08);
    mark.lineTo(b.right() - w * 0.24, b.bottom() - w * 0.06);
    mark.lineTo(b.center().x(), b.bottom() - w * 0.26);
    mark.lineTo(b.left() + w * 0.24, b.bottom() - w * 0.06);
    mark.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(mark);
  } else if (name == QLatin1String("film")) {
    const QRectF frame = b.adjusted(w * 0.14, w * 0.06, -w * 0.14, -w * 0.06);
    p.setPen(strokePen(colour, w * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame, w * 0.08, w * 0.08);
    p.drawLine(QPointF(frame.left() + w * 0.17, frame.top()), QPointF(frame.left() + w * 0.17, frame.bottom()));
    p.drawLine(QPointF(frame.right() - w * 0.17, frame.top()), QPointF(frame.right() - w * 0.17, frame.bottom()));
  } else if (name == QLatin1String("waveform")) {
    p.setPen(strokePen(colour, w * 0.09));
    const qreal heights[] = {0.2, 0.5, 0.8, 0.45, 0.65, 0.3};
    for (int i = 0; i < 6; ++i) {
      const qreal x = b.left() + w * (0.12 + 0.152 * i);
      const qreal h = w * heights[i] / 2;
      p.drawLine(QPointF(x, b.center().y() - h), QPointF(x, b.center().y() + h));
    }
  } else if (name == QLatin1String("play.fill")) {
    QPainterPath triangle;
    triangle.moveTo(b.left() + w * 0.25, b.top() + w * 0.15);
    triangle.lineTo(b.left() + w * 0.85, b.center().y());
    triangle.lineTo(b.left() + w * 0.25, b.bottom() - w * 0.15);
    triangle.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(triangle);
  } else if (name == QLatin1String("stop.fill")) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(b.adjusted(w * 0.2, w * 0.2, -w * 0.2, -w * 0.2), w * 0.08, w * 0.08);
  } else if (name == QLatin1String("text.quote")) {
    p.setPen(strokePen(colour, w * 0.09));
    const qreal lengths[] = {0.76, 0.76, 0.5};
    for (int i = 0; i < 3; ++i) {
      const qreal y = b.top() + w * (0.25 + 0.25 * i);
      p.drawLine(QPointF(b.left() + w * 0.12, y), QPointF(b.left() + w * (0.12 + lengths[i]), y));
    }
  } else if (name == QLatin1String("externaldrive.badge.questionmark")) {
    p.setPen(strokePen(colour, w * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(b.left() + w * 0.06, b.top() + w * 0.42, w * 0.62, w * 0.36), w * 0.08, w * 0.08);
    QFont f = p.font();
    f.setPixelSize(std::max(1, int(w * 0.6)));
    f.setBold(true);
    p.setFont(f);
    p.setPen(colour);
    p.drawText(QRectF(b.left() + w * 0.55, b.top(), w * 0.45, w * 0.6), Qt::AlignCenter, QStringLiteral("?"));
  }
  p.restore();
}

QPixmap pixmap(const QString& name, const QColor& colour, int size, qreal devicePixelRatio) {
  QPixmap pm(QSize(size, size) * devicePixelRatio);
  pm.setDevicePixelRatio(devicePixelRatio);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  paint(p, name, QRectF(0, 0, size, size), colour);
  return pm;
}

QIcon icon(const QString& name, const QColor& colour, int size) {
  QIcon result;
  result.addPixmap(pixmap(name, colour, size, 1));
  result.addPixmap(pixmap(name, colour, size, 2));
  return result;
}

QLabel* label(const QString& name, const QColor& colour, int size, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setPixmap(pixmap(name, colour, size, l->devicePixelRatioF()));
  l->setFixedSize(size, size);
  return l;
}

}  // namespace kestrane::app::Symbols
