#include "app/views/RunningView.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QRadialGradient>
#include <tuple>

#include "app/core/Checklist.hpp"
#include "app/views/Brand.hpp"
#include "app/views/BrandWidgets.hpp"
#include "app/views/Symbols.hpp"

namespace kestrane::app {

namespace {

// A row's mark, 18 wide.
class Mark : public QWidget {
 public:
  Mark(RowStatus status, QWidget* parent) : QWidget(parent), status_(status) {
    setObjectName(QStringLiteral("mark"));
    setFixedSize(kMarkSize, kMarkSize);
  }
  static constexpr int kMarkSize = 18;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, kMarkSize, kMarkSize);
    switch (status_) {
      case RowStatus::done: Symbols::paint(p, QStringLiteral("checkmark.circle.fill"), box, Brand::green); break;
      case RowStatus::current: Symbols::paint(p, QStringLiteral("arrow.right.circle.fill"), box, Brand::accent); break;
      case RowStatus::pending: Symbols::paint(p, QStringLiteral("circle"), box, Brand::secondaryText); break;
    }
  }

 private:
  RowStatus status_;
};

// The rows, and behind the current row's mark its violet glow, which reaches past the mark's
// own 18 points; the margins keep the glow inside the panel.
class ChecklistPanel : public QWidget {
 public:
  static constexpr int kGlowMargin = 6;
  explicit ChecklistPanel(QWidget* parent) : QWidget(parent) {}
  void glowBehind(QWidget* mark) { glowing_ = mark; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!glowing_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(glowing_->mapTo(this, QPoint(0, 0)), QSizeF(glowing_->size())).center();
    for (auto [colour, alpha, radius] : {std::tuple{Brand::deep, 0.5, 13.0}, std::tuple{Brand::accent, 0.8, 11.0}}) {
      QColor c = colour;
      c.setAlphaF(alpha);
      QRadialGradient glow(centre, radius);
      glow.setColorAt(0.6, c);
      glow.setColorAt(1.0, Qt::transparent);
      p.setPen(Qt::NoPen);
      p.setBrush(glow);
      p.drawEllipse(centre, radius, radius);
    }
  }

 private:
  QWidget* glowing_ = nullptr;
};

}  // namespace

RunningView::RunningView(AppServices services, QWidget* parent) : ScreenView(services, parent) {
  setObjectName(QStringLiteral("running"));
  column_ = new QVBoxLayout(this);
  column_->setSpacing(24);
  column_->addStretch(1);
  column_->addWidget(new Spinner(34, this), 0, Qt::AlignHCenter);
  header_ = Brand::label(QString(), Brand::TextStyle::headline, Brand::primaryText);
  header_->setObjectName(QStringLiteral("batchStageLabel"));
  column_->addWidget(header_);
  column_->addStretch(1);
  refresh();
}

void RunningView::refresh() {
  const JobState& state = job().state();
  if (!state.stage) return;
  // While a batch runs: which video is being cut.
  header_->setVisible(job().batchStageLabel().has_value());
  header_->setText(job().batchStageLabel().value_or(QString()));

  delete checklist_;
  auto* panel = new ChecklistPanel(this);
  checklist_ = panel;
  checklist_->setObjectName(QStringLiteral("checklist"));
  // 280 for the rows themselves, as the glow's margins are outside them.
  checklist_->setFixedWidth(280 + 2 * ChecklistPanel::kGlowMargin);
  auto* rows = new QVBoxLayout(checklist_);
  rows->setSpacing(12);
  const int m = ChecklistPanel::kGlowMargin;
  rows->setContentsMargins(m, m, m, m);
  for (const ChecklistRow& row : checklistRows(*state.stage, job().plannedStages())) {
    const bool current = row.status == RowStatus::current;
    auto* line = new QHBoxLayout;
    line->setSpacing(10);
    auto* mark = new Mark(row.status, checklist_);
    if (current) panel->glowBehind(mark);
    line->addWidget(mark);
    auto* text = Brand::label(row.label, Brand::TextStyle::body, current ? Brand::primaryText : Brand::secondaryText,
                              current ? QFont::DemiBold : QFont::Normal, Qt::AlignLeft | Qt::AlignVCenter);
    text->setWordWrap(false);
    line->addWidget(text, 1);
    rows->addLayout(line);
  }
  column_->insertWidget(3, checklist_, 0, Qt::AlignHCenter);
}

}  // namespace kestrane::app
