#include "app/updater/UpdateBanner.hpp"

#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "app/updater/UpdateChecker.hpp"

namespace kestrane::updater {
namespace {

const QColor kAccent(168, 85, 247);
const QColor kWarning(255, 159, 10);
constexpr int kFailureWidth = 420;

// A small four-pointed star pair, drawn so no icon font is needed.
QIcon sparkles(const QColor& color) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  auto star = [&](QPointF c, double r) {
    QPainterPath path;
    path.moveTo(c.x(), c.y() - r);
    path.quadTo(c, QPointF(c.x() + r, c.y()));
    path.quadTo(c, QPointF(c.x(), c.y() + r));
    path.quadTo(c, QPointF(c.x() - r, c.y()));
    path.quadTo(c, QPointF(c.x(), c.y() - r));
    painter.fillPath(path, color);
  };
  star({13, 18}, 12);
  star({26, 7}, 6);
  return QIcon(pixmap);
}

// Two arrows chasing each other round a circle.
QIcon circleArrows(const QColor& color) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
  QRectF ring(6, 6, 20, 20);
  painter.drawArc(ring, 30 * 16, 140 * 16);
  painter.drawArc(ring, 210 * 16, 140 * 16);
  painter.setBrush(color);
  painter.setPen(Qt::NoPen);
  painter.drawPolygon(QPolygonF({QPointF(3, 12), QPointF(11, 12), QPointF(7, 18)}));
  painter.drawPolygon(QPolygonF({QPointF(29, 20), QPointF(21, 20), QPointF(25, 14)}));
  return QIcon(pixmap);
}

}  // namespace

UpdateBanner::UpdateBanner(UpdateChecker& checker, QWidget* parent)
    : QWidget(parent), checker_(checker), link_(new QPushButton(this)), failure_(new QLabel(this)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  column->setAlignment(Qt::AlignHCenter);

  link_->setObjectName("updateLink");
  link_->setFlat(true);
  link_->setCursor(Qt::PointingHandCursor);
  QFont font = link_->font();
  font.setPointSizeF(font.pointSizeF() * 12.0 / 13.0 + 0.5);  // callout, a step under body
  font.setWeight(QFont::DemiBold);
  link_->setFont(font);
  link_->setStyleSheet(QString("QPushButton { color: %1; border: none; background: transparent; }"
                               "QPushButton:disabled { color: %1; }")
                           .arg(kAccent.name()));
  column->addWidget(link_, 0, Qt::AlignHCenter);

  auto* shadow = new QGraphicsDropShadowEffect(link_);
  shadow->setOffset(0, 0);
  link_->setGraphicsEffect(shadow);
  // The glow eases between a faint 2 px and a bright 7 px halo every 1.4 s, forever.
  glow_ = new QVariantAnimation(this);
  glow_->setStartValue(0.0);
  glow_->setEndValue(1.0);
  glow_->setDuration(1400);
  glow_->setEasingCurve(QEasingCurve::InOutSine);
  connect(glow_, &QVariantAnimation::valueChanged, this, [shadow](const QVariant& value) {
    double t = value.toDouble();
    QColor color = kAccent;
    color.setAlphaF(0.25 + t * (0.9 - 0.25));
    shadow->setColor(color);
    shadow->setBlurRadius(2 + t * 5);
  });
  connect(glow_, &QVariantAnimation::finished, this, [this] {
    glow_->setDirection(glow_->direction() == QAbstractAnimation::Forward ? QAbstractAnimation::Backward
                                                                          : QAbstractAnimation::Forward);
    glow_->start();
  });

  failure_->setObjectName("updateFailure");
  failure_->setWordWrap(true);
  failure_->setAlignment(Qt::AlignHCenter);
  failure_->setMaximumWidth(kFailureWidth);
  QFont footnote = failure_->font();
  footnote.setPointSizeF(footnote.pointSizeF() * 10.0 / 13.0 + 0.5);
  failure_->setFont(footnote);
  failure_->setStyleSheet(QString("color: %1;").arg(kWarning.name()));
  column->addWidget(failure_, 0, Qt::AlignHCenter);

  connect(link_, &QPushButton::clicked, &checker_, &UpdateChecker::installAndRelaunch);
  connect(&checker_, &UpdateChecker::changed, this, &UpdateBanner::refresh);
  refresh();
}

void UpdateBanner::refresh() {
  const auto& offered = checker_.available();
  // Hidden takes no room, so the drop zone lays out as if the banner were not there.
  setVisible(offered.has_value());
  if (!offered) {
    glow_->stop();
    return;
  }
  if (checker_.installing()) {
    link_->setIcon(circleArrows(kAccent));
    link_->setText("Updating — Kestrane will relaunch itself…");
  } else {
    link_->setIcon(sparkles(kAccent));
    link_->setText(QString("Kestrane %1 is ready — click to update").arg(QString::fromStdString(offered->version)));
  }
  link_->setEnabled(!checker_.installing());
  failure_->setText(checker_.failureMessage());
  failure_->setVisible(!checker_.failureMessage().isEmpty());
  if (glow_->state() != QAbstractAnimation::Running) glow_->start();
}

}  // namespace kestrane::updater
