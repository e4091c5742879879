#include "app/views/TranscriptView.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "app/views/Brand.hpp"

namespace kestrane::app {

namespace {

constexpr double padding = 14;
constexpr double stampWidth = 44;
constexpr double stampGap = 10;
constexpr double wordSpacing = 5;
constexpr double lineSpacing = 6;
constexpr double paragraphSpacing = 14;
constexpr double clickTravel = 4;

QFont wordFont() {
  QFont f = QApplication::font();
  f.setPointSizeF(13.5 * 0.75);
  return f;
}

QFont stampFont() {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPointSizeF(11 * 0.75);
  return f;
}

QColor withAlpha(QColor c, double opacity) {
  c.setAlphaF(float(opacity));
  return c;
}

}  // namespace

TranscriptView::TranscriptView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setAutoFillBackground(false);
  viewport()->setMouseTracking(true);

  bar_ = new QFrame(viewport());
  bar_->setObjectName(QStringLiteral("transcriptActionBar"));
  bar_->setStyleSheet(QStringLiteral("#transcriptActionBar { background: %1; border: 1px solid rgba(168, 85, 247, "
                                     "128); border-radius: 8px; }")
                          .arg(Brand::hex(Brand::windowBackground)));
  auto* shadow = new QGraphicsDropShadowEffect(bar_);
  shadow->setBlurRadius(6);
  shadow->setOffset(0, 0);
  shadow->setColor(QColor(0, 0, 0, 84));  // a third of full black
  bar_->setGraphicsEffect(shadow);
  auto* row = new QHBoxLayout(bar_);
  row->setContentsMargins(10, 6, 10, 6);
  row->setSpacing(8);
  count_ = Brand::label({}, Brand::TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignVCenter);
  keep_ = Brand::button(QStringLiteral("Keep"), Brand::ButtonLook::prominent, Brand::ControlSize::small);
  cut_ = Brand::button(QStringLiteral("Cut"), Brand::ButtonLook::bordered, Brand::ControlSize::small);
  auto* close = new QToolButton;
  close->setText(QStringLiteral("✕"));
  close->setAutoRaise(true);
  close->setAccessibleName(QStringLiteral("Close"));
  row->addWidget(count_);
  row->addWidget(keep_);
  row->addWidget(cut_);
  row->addWidget(close);
  connect(keep_, &QPushButton::clicked, this, [this] { force(true); });
  connect(cut_, &QPushButton::clicked, this, [this] { force(false); });
  connect(close, &QToolButton::clicked, this, [this] { clearSelection(); });
  bar_->hide();
}

void TranscriptView::setWords(std::vector<TranscriptWord> words) {
  words_ = std::move(words);
  const QFontMetricsF metrics(wordFont());
  textWidths_.clear();
  textWidths_.reserve(words_.size());
  // Speech repeats its words: each distinct one is measured once.
  std::unordered_map<std::string, double> measured;
  for (const TranscriptWord& word : words_) {
    auto [it, fresh] = measured.try_emplace(word.text, 0.0);
    if (fresh) it->second = metrics.horizontalAdvance(QString::fromStdString(word.text));
    textWidths_.push_back(it->second);
  }
  clearSelection();
  rebuildCells();
  laidOutWidth_ = -1;
  layoutWords(viewport()->width());
}

void TranscriptView::setCut(std::vector<TimeRange> cutBands, TranscriptCells::Sources sources) {
  cutBands_ = std::move(cutBands);
  sources_ = std::move(sources);
  rebuildCells();
  viewport()->update();
}

void TranscriptView::rebuildCells() {
  const std::vector<Paragraph> previous = std::move(paragraphs_);
  paragraphs_ = TranscriptCells::paragraphs(words_, cutBands_, sources_);
  cells_.assign(words_.size(), nullptr);
  for (const Paragraph& p : paragraphs_) {
    for (const WordCell& cell : p.words) cells_[std::size_t(cell.id)] = &cell;
  }
  // Paragraph breaks depend on the words alone, so the layout only changes with them.
  if (previous.size() != paragraphs_.size()) laidOutWidth_ = -1;
}

double TranscriptView::layoutWords(double width) {
  if (width == laidOutWidth_) return contentHeight_;
  laidOutWidth_ = width;
  frames_.assign(words_.size(), {});
  lines_.clear();
  const double lineHeight = QFontMetricsF(wordFont()).height() + 2;
  const double left = padding + stampWidth + stampGap;
  const double right = std::max(width - padding, left + 1);
  double y = padding;
  for (const Paragraph& p : paragraphs_) {
    double x = left;
    Line line{y, y + lineHeight, p.words.front().id, p.words.front().id, p.id};
    for (const WordCell& cell : p.words) {
      const double w = textWidths_[std::size_t(cell.id)] + 4;
      if (x > left && x + w > right) {
        lines_.push_back(line);
        y += lineHeight + lineSpacing;
        x = left;
        line = {y, y + lineHeight, cell.id, cell.id, std::nullopt};
      }
      frames_[std::size_t(cell.id)] = QRectF(x, y, w, lineHeight);
      line.last = cell.id;
      x += w + wordSpacing;
    }
    lines_.push_back(line);
    y += lineHeight + paragraphSpacing;
  }
  contentHeight_ = paragraphs_.empty() ? 0 : y - paragraphSpacing + padding;
  verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(contentHeight_)) - viewport()->height()));
  verticalScrollBar()->setPageStep(viewport()->height());
  verticalScrollBar()->setSingleStep(20);
  return contentHeight_;
}

void TranscriptView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  layoutWords(viewport()->width());
  placeBar();
}

void TranscriptView::scrollContentsBy(int, int) {
  placeBar();
  viewport()->update();
}

QPointF TranscriptView::toContent(const QPointF& p) const { return p + QPointF(0, verticalScrollBar()->value()); }

void TranscriptView::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(viewport()->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(QPen(withAlpha(Brand::secondaryText, 0.2), 1));
  p.setBrush(withAlpha(Qt::black, 0.25));
  p.drawRoundedRect(frame, 6, 6);
  const double scroll = verticalScrollBar()->value();
  const QRectF dirty = QRectF(event->rect()).translated(0, scroll);
  p.translate(0, -scroll);
  // Only the lines crossing the part being repainted.
  auto line = std::lower_bound(lines_.begin(), lines_.end(), dirty.top(),
                               [](const Line& l, double top) { return l.bottom < top; });
  const QFont words = wordFont();
  const QFont stamps = stampFont();
  const QFontMetricsF metrics(words);
  for (; line != lines_.end() && line->top <= dirty.bottom(); ++line) {
    if (line->paragraph) {
      p.setFont(stamps);
      p.setPen(Brand::tertiaryText);
      const QRectF stamp(padding, line->top, stampWidth, line->bottom - line->top);
      p.drawText(stamp, Qt::AlignRight | Qt::AlignVCenter,
                 TranscriptCells::timestamp(paragraphs_[std::size_t(*line->paragraph)].start));
    }
    p.setFont(words);
    for (int id = line->first; id <= line->last; ++id) {
      const WordCell& cell = *cells_[std::size_t(id)];
      const QRectF r = frames_[std::size_t(id)];
      if (selection_ && selection_->first <= id && id <= selection_->second) {
        p.setPen(Qt::NoPen);
        p.setBrush(withAlpha(Brand::accent, 0.4));
        p.drawRoundedRect(r, 3, 3);
      }
      p.setPen(cell.cut ? withAlpha(Brand::secondaryText, 0.55) : Brand::primaryText);
      p.drawText(r, Qt::AlignCenter, cell.text);
      if (cell.cut) {
        p.setPen(QPen(withAlpha(Brand::orange, 0.8), 1.2));
        const double y = r.top() + 1 + metrics.ascent() - metrics.xHeight() / 2;
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
      }
    }
  }
}

std::optional<int> TranscriptView::wordAt(const QPointF& at) const {
  if (frames_.empty()) return std::nullopt;
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    if (frames_[i].adjusted(-3, -3, 3, 3).contains(at)) return int(i);
  }
  std::optional<int> best;
  double bestDistance = 0;
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    const QPointF c = frames_[i].center();
    if (std::abs(c.y() - at.y()) >= 12) continue;
    const double d = std::abs(c.x() - at.x());
    if (!best || d < bestDistance) best = int(i), bestDistance = d;
  }
  if (best) return best;
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    const QPointF c = frames_[i].center();
    if (std::abs(c.y() - at.y()) >= 40) continue;
    const double d = std::hypot(c.x() - at.x(), c.y() - at.y());
    if (!best || d < bestDistance) best = int(i), bestDistance = d;
  }
  return best;
}

void TranscriptView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  pressAt_ = toContent(event->position());
  actionPoint_.reset();
  placeBar();
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_) return;
  const QPointF at = toContent(event->position());
  actionPoint_.reset();
  placeBar();
  if (QLineF(pressAt_, at).length() <= clickTravel) return;
  const std::optional<int> id = wordAt(at);
  if (!id) return;
  if (!anchor_) anchor_ = wordAt(pressAt_).value_or(*id);
  selection_ = std::pair{std::min(*id, *anchor_), std::max(*id, *anchor_)};
  viewport()->update();
}

void TranscriptView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  const QPointF at = toContent(event->position());
  if (QLineF(pressAt_, at).length() <= clickTravel) {
    const std::optional<int> id = wordAt(at);
    if (!id) {
      clearSelection();
      return;
    }
    if ((event->modifiers() & Qt::ShiftModifier) && selection_) {
      selection_ = std::pair{std::min(*id, selection_->first), std::max(*id, selection_->second)};
    } else {
      selection_ = std::pair{*id, *id};
    }
  }
  anchor_.reset();
  if (selection_) actionPoint_ = at;
  else actionPoint_.reset();
  placeBar();
  viewport()->update();
}

bool TranscriptView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QPointF at = toContent(help->pos());
    for (std::size_t i = 0; i < frames_.size(); ++i) {
      if (!frames_[i].contains(at)) continue;
      const WordCell& cell = *cells_[i];
      QToolTip::showText(
          help->globalPos(),
          cell.cut ? QStringLiteral("Cut: ") + cell.reason.value_or(QStringLiteral("removed")) : QStringLiteral("Kept"),
          viewport());
      return true;
    }
    QToolTip::hideText();
    return true;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void TranscriptView::clearSelection() {
  selection_.reset();
  anchor_.reset();
  actionPoint_.reset();
  placeBar();
  viewport()->update();
}

void TranscriptView::placeBar() {
  if (!selection_ || !actionPoint_) {
    bar_->hide();
    return;
  }
  const int n = selection_->second - selection_->first + 1;
  bool anyCut = false;
  bool anyKept = false;
  for (int id = selection_->first; id <= selection_->second; ++id) {
    (cells_[std::size_t(id)]->cut ? anyCut : anyKept) = true;
  }
  count_->setText(QStringLiteral("%1 word%2").arg(n).arg(n == 1 ? QString() : QStringLiteral("s")));
  keep_->setVisible(anyCut);
  cut_->setVisible(anyKept);
  bar_->adjustSize();
  bar_->move(int(std::max(actionPoint_->x() - 60, 8.0)), int(actionPoint_->y() + 16 - verticalScrollBar()->value()));
  bar_->show();
  bar_->raise();
}

void TranscriptView::force(bool keep) {
  if (!selection_) return;  // Keep or Cut with nothing picked does nothing
  const auto [first, last] = *selection_;
  clearSelection();
  if (onForce) onForce(first, last, keep);
}

}  // namespace kestrane::app
