#include "app/views/OptionsView.hpp"

#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>

#include "app/views/Brand.hpp"
#include "app/views/Symbols.hpp"

namespace kestrane::app {

using Brand::TextStyle;

namespace {

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setStyleSheet(QStringLiteral("color: #3a3841;"));
  return line;
}

}  // namespace

OptionsView::OptionsView(AppServices services, QWidget* parent) : ScreenView(services, parent) {
  setObjectName(QStringLiteral("options"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(20, 20, 20, 20);
  header->setSpacing(12);
  header->addWidget(Symbols::label(QStringLiteral("film"), Brand::accent, 26, this));
  auto* titles = new QVBoxLayout;
  titles->setSpacing(4);
  fileName_ = Brand::label(QString(), TextStyle::headline, Brand::primaryText, QFont::Normal, Qt::AlignLeft);
  fileName_->setObjectName(QStringLiteral("footageName"));
  titles->addWidget(fileName_);
  auto* statusRow = new QHBoxLayout;
  statusRow->setSpacing(5);
  statusIcon_ = new QLabel(this);
  statusRow->addWidget(statusIcon_);
  status_ = Brand::label(QString(), TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignLeft);
  status_->setObjectName(QStringLiteral("footageStatus"));
  statusRow->addWidget(status_, 1);
  titles->addLayout(statusRow);
  header->addLayout(titles, 1);
  auto* change = Brand::button(QStringLiteral("Change\u2026"), Brand::ButtonLook::bordered);
  change->setObjectName(QStringLiteral("change"));
  connect(change, &QPushButton::clicked, this, [this] { job().reset(); });
  header->addWidget(change);
  column->addLayout(header);
  column->addWidget(divider(this));

  form_ = new QVBoxLayout;
  form_->setContentsMargins(20, 20, 20, 20);
  form_->addStretch(1);
  column->addLayout(form_, 1);
  column->addWidget(divider(this));

  auto* footer = new QHBoxLayout;
  footer->setContentsMargins(20, 20, 20, 20);
  footer->addStretch(1);
  auto* cut = Brand::button(QStringLiteral("Cut It"), Brand::ButtonLook::prominent, /*large=*/true);
  cut->setObjectName(QStringLiteral("cutIt"));
  cut->setIcon(Symbols::icon(QStringLiteral("scissors"), Qt::white, 16));
  cut->setMinimumWidth(120);
  connect(cut, &QPushButton::clicked, this, [this] { job().start(); });
  auto* returnKey = new QShortcut(QKeySequence(Qt::Key_Return), this);
  connect(returnKey, &QShortcut::activated, cut, &QPushButton::click);
  footer->addWidget(cut);
  column->addLayout(footer);
  refresh();
}

void OptionsView::refresh() {
  fileName_->setText(QFileInfo(job().footagePath()).fileName());
  QString text;
  QString symbol;
  QColor colour = Brand::secondaryText;
  if (job().isRecut()) {
    text = QStringLiteral("Re-cut with new settings \u2014 instant, no re-analysis");
  } else {
    switch (job().preAnalysisState()) {
      case PreAnalysisState::none:
        text = QStringLiteral("Ready to cut");
        break;
      case PreAnalysisState::working:
        symbol = QStringLiteral("waveform");
        text = QStringLiteral("Analyzing in the background while you choose\u2026");
        break;
      case PreAnalysisState::ready:
        symbol = QStringLiteral("checkmark.circle.fill");
        text = QStringLiteral("Analysis done \u2014 Cut It goes straight to deciding");
        colour = Brand::green;
        break;
      case PreAnalysisState::failed:
        text = QStringLiteral("Quick pre-check failed \u2014 the full analysis will run when you press Cut It");
        colour = Brand::orange;
        break;
    }
  }
  statusIcon_->setVisible(!symbol.isEmpty());
  if (!symbol.isEmpty()) statusIcon_->setPixmap(Symbols::pixmap(symbol, colour, 13, devicePixelRatioF()));
  status_->setText(text);
  QPalette p = status_->palette();
  p.setColor(QPalette::WindowText, colour);
  status_->setPalette(p);
}

}  // namespace kestrane::app
