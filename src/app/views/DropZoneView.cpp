#include "app/views/DropZoneView.hpp"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/updater/UpdateBanner.hpp"
#include "app/views/Brand.hpp"

namespace kestrane::app {

using Brand::TextStyle;

DropZoneView::DropZoneView(AppServices services, QWidget* parent) : ScreenView(services, parent) {
  setObjectName(QStringLiteral("dropZone"));
  setAcceptDrops(true);
  auto* column = new QVBoxLayout(this);
  column->setSpacing(18);
  column->setContentsMargins(40, 0, 40, 36);
  column->addStretch(1);
  if (services_.updates) {
    column->addWidget(new updater::UpdateBanner(*services_.updates, this), 0, Qt::AlignHCenter);
  }

  glyph_ = new BrandGlyph(this);
  column->addWidget(glyph_, 0, Qt::AlignHCenter);
  column->addSpacing(-30);  // the glow's margin is not part of the glyph's own height
  auto* wordmark = new Wordmark(34, this);
  wordmark->setObjectName(QStringLiteral("wordmark"));
  column->addWidget(wordmark, 0, Qt::AlignHCenter);
  column->addWidget(
      Brand::label(QStringLiteral("Drop your raw footage"), TextStyle::title3, Brand::primaryText, QFont::DemiBold));
  column->addWidget(Brand::label(QStringLiteral("Kestrane cuts the silences, flubs, and repeated takes,\n"
                                                "then hands you an editor-ready first cut."),
                                 TextStyle::callout, Brand::secondaryText));
  column->addWidget(Brand::label(QStringLiteral("No AI. No accounts. Everything runs on this computer, instantly."),
                                 TextStyle::footnote, Brand::accent, QFont::Medium));
  hint_ = Brand::label(QStringLiteral("Have a script? Drop it too. Drop several videos to cut them as a batch."),
                       TextStyle::footnote, Brand::tertiaryText);
  column->addWidget(hint_);
  message_ = Brand::label(QString(), TextStyle::footnote, Brand::orange);
  message_->setObjectName(QStringLiteral("dropMessage"));
  column->addLayout(Brand::centred(message_, 420));

  auto* choose = Brand::button(QStringLiteral("Choose Footage\u2026"), Brand::ButtonLook::bordered);
  choose->setObjectName(QStringLiteral("chooseFootage"));
  choose->setCursor(Qt::PointingHandCursor);
  connect(choose, &QPushButton::clicked, this, &DropZoneView::chooseFootage);
  column->addWidget(choose, 0, Qt::AlignHCenter);
  auto* open = new QShortcut(QKeySequence::Open, this);
  connect(open, &QShortcut::activated, this, &DropZoneView::chooseFootage);
  column->addStretch(1);

  auto* links = new QHBoxLayout;
  links->setSpacing(14);
  links->addStretch(1);
  auto* previous = Brand::button(QStringLiteral("Open Previous Cut\u2026"), Brand::ButtonLook::link);
  previous->setObjectName(QStringLiteral("openPreviousCut"));
  connect(previous, &QPushButton::clicked, this, [this] {
    const QString chosen = services_.dialogs->choosePreviousCut();
    if (!chosen.isEmpty()) job().openSession(chosen);
  });
  links->addWidget(previous);
  reopenBatch_ = Brand::button(QString(), Brand::ButtonLook::link);
  reopenBatch_->setObjectName(QStringLiteral("reopenLastBatch"));
  connect(reopenBatch_, &QPushButton::clicked, this, [this] { job().reopenLastBatch(); });
  links->addWidget(reopenBatch_);
  reopenLast_ = Brand::button(QString(), Brand::ButtonLook::link);
  reopenLast_->setObjectName(QStringLiteral("reopenLastCut"));
  connect(reopenLast_, &QPushButton::clicked, this, [this] {
    if (!job().recentSessionPaths().isEmpty()) job().openSession(job().recentSessionPaths().front());
  });
  links->addWidget(reopenLast_);
  links->addStretch(1);
  column->addLayout(links);
  refresh();
}

void DropZoneView::refresh() {
  const std::optional<QString>& message = job().dropMessage();
  hint_->setVisible(!message);
  message_->setVisible(message.has_value());
  message_->setText(message.value_or(QString()));

  const int batchVideos = job().reopenableBatchCount();
  reopenBatch_->setVisible(batchVideos >= 2);
  reopenBatch_->setText(QStringLiteral("Reopen Last Batch (%1 videos)").arg(batchVideos));

  // The link follows the file on disk: it goes when the newest session is deleted.
  const QStringList& recent = job().recentSessionPaths();
  const bool reopenable = !recent.isEmpty() && QFileInfo::exists(recent.front());
  reopenLast_->setVisible(reopenable);
  if (reopenable) {
    const QString folder = QFileInfo(QFileInfo(recent.front()).path()).fileName();
    reopenLast_->setText(QStringLiteral("Reopen \u201c%1\u201d").arg(folder));
  }
}

void DropZoneView::chooseFootage() {
  const QStringList chosen = services_.dialogs->chooseFootage();
  if (!chosen.isEmpty()) job().accept(chosen);
}

void DropZoneView::setTargeted(bool targeted) {
  targeted_ = targeted;
  glyph_->setTargeted(targeted);
  update();
}

void DropZoneView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QColor colour = targeted_ ? Brand::accent : Brand::secondaryText;
  if (!targeted_) colour.setAlphaF(0.35);
  QPen pen(colour, 2);
  pen.setDashPattern({4, 3});  // 8 drawn, 6 apart, in units of the 2 px line
  pen.setMiterLimit(10);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(rect()).adjusted(25, 25, -25, -25), 16, 16);
}

void DropZoneView::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  event->acceptProposedAction();
  setTargeted(true);
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent*) { setTargeted(false); }

void DropZoneView::dropEvent(QDropEvent* event) {
  setTargeted(false);
  event->acceptProposedAction();
  // Items that are not local files are skipped; what the rest are is the job model's decision.
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  job().accept(paths);
}

}  // namespace kestrane::app
