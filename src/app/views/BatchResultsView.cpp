#include "app/views/BatchResultsView.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

#include "app/core/ErrorText.hpp"
#include "app/core/Paths.hpp"
#include "app/views/Brand.hpp"
#include "app/views/Symbols.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"

namespace kestrane::app {

using Brand::TextStyle;

namespace {

QString elapsed(double seconds) { return QString::fromStdString(Pipeline::elapsedString(seconds)); }

bool opensInFinalCut(const Pipeline::Output& output) {
  const auto& target = output.session.settings.exportTarget;
  return !target || *target == ExportTarget::finalCut;
}

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setStyleSheet(QStringLiteral("color: #3a3841;"));
  return line;
}

QString notesLine(int notes) {
  return QStringLiteral("%1 note%2 to your editor \u2014 markers inside the source clip")
      .arg(notes)
      .arg(notes == 1 ? QString() : QStringLiteral("s"));
}

}  // namespace

BatchResultsView::BatchResultsView(AppServices services, QWidget* parent) : ScreenView(services, parent) {
  setObjectName(QStringLiteral("batchResults"));
  const std::vector<BatchItem>& batch = job().batch();
  const auto total = static_cast<int>(batch.size());
  const auto succeeded = static_cast<int>(
      std::count_if(batch.begin(), batch.end(), [](const BatchItem& i) { return i.output.has_value(); }));
  const bool allCut = succeeded == total;

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* header = new QVBoxLayout;
  header->setContentsMargins(24, 28, 24, 28);
  header->setSpacing(10);
  header->addWidget(allCut ? Symbols::label(QStringLiteral("checkmark.seal.fill"), Brand::green, 44, this)
                           : Symbols::label(QStringLiteral("exclamationmark.triangle.fill"), Brand::yellow, 44, this),
                    0, Qt::AlignHCenter);
  auto* title = Brand::label(allCut ? QStringLiteral("%1 first cuts ready").arg(succeeded)
                                    : QStringLiteral("%1 of %2 cuts finished").arg(succeeded).arg(total),
                             TextStyle::title2, Brand::primaryText, QFont::DemiBold);
  title->setObjectName(QStringLiteral("batchTitle"));
  header->addWidget(title);
  if (const auto duration = job().lastCutDuration()) {
    auto* took =
        Brand::label(QStringLiteral("Batch done in ") + elapsed(*duration), TextStyle::callout, Brand::secondaryText);
    took->setObjectName(QStringLiteral("batchElapsed"));
    header->addWidget(took);
  }
  column->addLayout(header);
  column->addWidget(divider(this));

  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("batchRows"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* page = new QWidget(scroll);
  scroll->viewport()->setAutoFillBackground(false);
  page->setAutoFillBackground(false);
  auto* rows = new QVBoxLayout(page);
  rows->setContentsMargins(0, 14, 0, 14);
  rows->setSpacing(10);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const BatchItem& item = batch[i];
    auto* rowBox = new QWidget(page);
    rowBox->setObjectName(QStringLiteral("batchRow%1").arg(i));
    auto* row = new QHBoxLayout(rowBox);
    row->setContentsMargins(24, 6, 24, 6);
    row->setSpacing(12);
    row->addWidget(item.output
                       ? Symbols::label(QStringLiteral("checkmark.circle.fill"), Brand::green, 16, rowBox)
                       : Symbols::label(QStringLiteral("exclamationmark.triangle.fill"), Brand::orange, 16, rowBox));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(
        Brand::label(item.projectName, TextStyle::callout, Brand::primaryText, QFont::Medium, Qt::AlignLeft));
    if (item.output) {
      const KestraneSession& session = item.output->session;
      const double kept = session.cutList ? session.cutList->keptDuration() : 0;
      auto* figures = Brand::label(elapsed(session.source.durationSeconds) + QStringLiteral(" \u2192 ") + elapsed(kept),
                                   TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignLeft);
      figures->setObjectName(QStringLiteral("figures"));
      texts->addWidget(figures);
      if (const auto notes = session.editorNotes.value_or(std::vector<Advisory>{}).size(); notes > 0) {
        auto* line = new QHBoxLayout;
        line->setSpacing(4);
        line->addWidget(Symbols::label(QStringLiteral("bookmark.fill"), Brand::teal, 11, rowBox));
        auto* text = Brand::label(notesLine(static_cast<int>(notes)), TextStyle::caption, Brand::teal, QFont::Normal,
                                  Qt::AlignLeft);
        text->setObjectName(QStringLiteral("notes"));
        line->addWidget(text, 1);
        texts->addLayout(line);
      }
    } else {
      // An error without words still says the video failed.
      const QString reason = item.failure.value_or(QString());
      auto* failure = Brand::label(reason.isEmpty() ? QStringLiteral("Failed") : reason, TextStyle::caption,
                                   Brand::orange, QFont::Normal, Qt::AlignLeft);
      failure->setObjectName(QStringLiteral("failure"));
      failure->setWordWrap(true);
      // At most two lines.
      failure->setMaximumHeight(failure->fontMetrics().lineSpacing() * 2);
      texts->addWidget(failure);
    }
    row->addLayout(texts, 1);
    if (item.output) {
      const Pipeline::Output& output = *item.output;
      if (opensInFinalCut(output)) {
        auto* open = Brand::button(QStringLiteral("Open in Final Cut"), Brand::ButtonLook::bordered, false, rowBox);
        open->setObjectName(QStringLiteral("openTimeline"));
        open->setCursor(Qt::PointingHandCursor);
        connect(open, &QPushButton::clicked, this,
                [this, path = fromPath(output.fcpxmlURL)] { services_.workspace->open(path); });
        row->addWidget(open);
      }
      auto* reveal = Brand::button(QString(), Brand::ButtonLook::bordered, false, rowBox);
      reveal->setObjectName(QStringLiteral("showPackage"));
      reveal->setIcon(Symbols::icon(QStringLiteral("folder"), Brand::primaryText, 16));
      reveal->setCursor(Qt::PointingHandCursor);
      connect(reveal, &QPushButton::clicked, this,
              [this, path = fromPath(output.packageDir)] { services_.workspace->reveal(path); });
      row->addWidget(reveal);
    }
    rows->addWidget(rowBox);
  }
  rows->addStretch(1);
  scroll->setWidget(page);
  column->addWidget(scroll, 1);
  column->addWidget(divider(this));

  auto* footer = new QHBoxLayout;
  footer->setContentsMargins(16, 16, 16, 16);
  footer->setSpacing(14);
  footer->addStretch(1);
  const bool everyForFinalCut = std::all_of(
      batch.begin(), batch.end(), [](const BatchItem& item) { return !item.output || opensInFinalCut(*item.output); });
  if (everyForFinalCut) {
    auto* importAll = Brand::button(QStringLiteral("Import All into Final Cut"), Brand::ButtonLook::prominent, true);
    importAll->setObjectName(QStringLiteral("importAll"));
    importAll->setIcon(Symbols::icon(QStringLiteral("arrow.up.forward.app"), Qt::white, 16));
    connect(importAll, &QPushButton::clicked, this, &BatchResultsView::importAll);
    footer->addWidget(importAll);
  }
  auto* more = Brand::button(QStringLiteral("Cut More Videos"), Brand::ButtonLook::bordered, true);
  more->setObjectName(QStringLiteral("cutMoreVideos"));
  connect(more, &QPushButton::clicked, this, [this] { job().reset(); });
  footer->addWidget(more);
  footer->addStretch(1);
  column->addLayout(footer);

  importError_ = Brand::label(QString(), TextStyle::caption, Brand::orange);
  importError_->setObjectName(QStringLiteral("importError"));
  importError_->setContentsMargins(0, 0, 0, 10);
  column->addWidget(importError_);
  refresh();
}

void BatchResultsView::refresh() {
  const std::optional<QString>& error = job().batchImportError();
  importError_->setVisible(error.has_value());
  importError_->setText(error.value_or(QString()));
}

void BatchResultsView::importAll() {
  QString path;
  try {
    path = job().batchImportAllPath();
  } catch (...) {
    job().setBatchImportError(errorText(std::current_exception()));
    return;
  }
  services_.workspace->open(path);
}

}  // namespace kestrane::app
