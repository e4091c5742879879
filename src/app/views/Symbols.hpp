#pragma once
// The small pictograms the screens use, drawn here and looked up by name.
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QString>

namespace kestrane::app::Symbols {

// Names: checkmark.circle.fill, arrow.right.circle.fill, circle, exclamationmark.triangle.fill,
// checkmark.seal.fill, scissors, arrow.up.forward.app, play.rectangle, folder,
// slider.horizontal.3, bookmark.fill, film, waveform, play.fill, stop.fill, text.quote,
// externaldrive.badge.questionmark. An unknown name draws nothing.
void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& colour);

QPixmap pixmap(const QString& name, const QColor& colour, int size, qreal devicePixelRatio = 1);
QIcon icon(const QString& name, const QColor& colour, int size = 16);
QLabel* label(const QString& name, const QColor& colour, int size, QWidget* parent = nullptr);

}  // namespace kestrane::app::Symbols
