#include "app/views/FormControls.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>

#include "app/views/Brand.hpp"

namespace kestrane::app {

using Brand::TextStyle;

namespace {
constexpr int trackWidth = 34;
constexpr int trackHeight = 20;
}  // namespace

Segmented::Segmented(const QStringList& titles, std::function<void(int)> chosen, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  const QString look = QStringLiteral(
                           "QToolButton { background: #3a3841; color: %1; border: none; padding: 4px 12px; }"
                           "QToolButton:checked { background: #5b5866; color: white; }"
                           "QToolButton#first { border-top-left-radius: 6px; border-bottom-left-radius: 6px; }"
                           "QToolButton#last { border-top-right-radius: 6px; border-bottom-right-radius: 6px; }")
                           .arg(Brand::hex(Brand::primaryText));
  for (int i = 0; i < titles.size(); ++i) {
    auto* b = new QToolButton(this);
    b->setText(titles[i]);
    b->setCheckable(true);
    b->setFont(Brand::font(TextStyle::callout));
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    if (i == 0) b->setObjectName(QStringLiteral("first"));
    if (i == titles.size() - 1) b->setObjectName(QStringLiteral("last"));
    b->setStyleSheet(look);
    group_.addButton(b, i);
    row->addWidget(b);
  }
  connect(&group_, &QButtonGroup::idClicked, this, [chosen = std::move(chosen)](int id) { chosen(id); });
}

void Segmented::setCurrent(int index) {
  if (QAbstractButton* b = group_.button(index)) b->setChecked(true);
}

Switch::Switch(const QString& title, QWidget* parent) : QAbstractButton(parent) {
  setText(title);
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  setFont(Brand::font(TextStyle::body));
}

QSize Switch::sizeHint() const {
  const QFontMetrics m(font());
  return {m.horizontalAdvance(text()) + trackWidth + 24, std::max(trackHeight, m.height()) + 6};
}

void Switch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Brand::primaryText);
  p.drawText(rect().adjusted(0, 0, -trackWidth - 8, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
  const QRectF track(width() - trackWidth, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
  p.setPen(Qt::NoPen);
  p.setBrush(isChecked() ? Brand::accent : QColor(72, 70, 80));
  p.drawRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);
  const double knob = trackHeight - 4;
  const double x = isChecked() ? track.right() - knob - 2 : track.left() + 2;
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

FormSection::FormSection(const QString& title, QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);
  column->addWidget(Brand::label(title, TextStyle::callout, Brand::secondaryText, QFont::DemiBold, Qt::AlignLeft));
  auto* box = new QFrame(this);
  box->setObjectName(QStringLiteral("sectionBox"));
  box->setStyleSheet(QStringLiteral("QFrame#sectionBox { background: #26252b; border-radius: 8px; }"));
  body_ = new QVBoxLayout(box);
  body_->setContentsMargins(14, 12, 14, 12);
  body_->setSpacing(8);
  column->addWidget(box);
}

QLabel* captionText(const QString& text, QWidget* parent) {
  QLabel* label = Brand::label(text, TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignLeft, parent);
  label->setWordWrap(true);
  return label;
}

}  // namespace kestrane::app
