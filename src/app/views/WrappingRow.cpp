#include "app/views/WrappingRow.hpp"

#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrane::app {

namespace {

// Between the lines of a wrapped row: closer than the items of a line, so they read as one row.
constexpr int lineGap = 8;

}  // namespace

WrappingRow::WrappingRow(QWidget* parent, int spacing) : QLayout(parent), gap_(spacing) {
  setContentsMargins(0, 0, 0, 0);
}

WrappingRow::~WrappingRow() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void WrappingRow::addStretch() { trailingFrom_ = items_.size(); }

void WrappingRow::addFilling(QWidget* widget) {
  addWidget(widget);
  filling_.append(items_.back());
}

void WrappingRow::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* WrappingRow::takeAt(int index) {
  if (index < 0 || index >= items_.size()) return nullptr;
  if (trailingFrom_ > index) --trailingFrom_;
  filling_.removeAll(items_[index]);
  return items_.takeAt(index);
}

int WrappingRow::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize WrappingRow::minimumSize() const {
  // As narrow as the widest item, each item then on a line of its own.
  int width = 0;
  for (const QLayoutItem* item : items_) {
    if (!item->isEmpty()) width = std::max(width, item->sizeHint().width());
  }
  const QMargins m = contentsMargins();
  return {width + m.left() + m.right(), heightForWidth(width + m.left() + m.right())};
}

QSize WrappingRow::sizeHint() const {
  int width = 0;
  int height = 0;
  for (const QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    width += (width > 0 ? gap_ : 0) + hint.width();
    height = std::max(height, hint.height());
  }
  const QMargins m = contentsMargins();
  return {width + m.left() + m.right(), height + m.top() + m.bottom()};
}

void WrappingRow::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect, true);
}

int WrappingRow::arrange(const QRect& rect, bool place) const {
  const QRect area = rect.marginsRemoved(contentsMargins());
  struct Placed {
    QLayoutItem* item;
    QSize size;
    bool trailing;
  };
  std::vector<std::vector<Placed>> lines(1);
  int used = 0;
  for (qsizetype i = 0; i < items_.size(); ++i) {
    QLayoutItem* item = items_[i];
    if (item->isEmpty()) continue;
    QSize size = item->sizeHint().boundedTo(item->maximumSize()).expandedTo(item->minimumSize());
    size.setWidth(std::min(size.width(), area.width()));
    if (!lines.back().empty() && used + gap_ + size.width() > area.width()) {
      lines.emplace_back();
      used = 0;
    }
    used += (lines.back().empty() ? 0 : gap_) + size.width();
    lines.back().push_back({item, size, trailingFrom_ >= 0 && i >= trailingFrom_});
  }

  int y = area.top();
  for (std::vector<Placed>& line : lines) {
    if (line.empty()) continue;
    int height = 0;
    for (const Placed& p : line) height = std::max(height, p.size.height());
    if (place) {
      int free = area.width() + gap_;
      for (const Placed& p : line) free -= p.size.width() + gap_;
      for (Placed& p : line) {
        if (filling_.contains(p.item)) p.size.rwidth() += std::exchange(free, 0);
      }
      int left = area.left();
      int right = area.right() + 1;
      for (const Placed& p : line) {
        if (p.trailing) right -= p.size.width() + gap_;
      }
      right += gap_;
      for (const Placed& p : line) {
        int& x = p.trailing ? right : left;
        p.item->setGeometry(QRect(QPoint(x, y + (height - p.size.height()) / 2), p.size));
        x += p.size.width() + gap_;
      }
    }
    y += height + (&line == &lines.back() ? 0 : lineGap);
  }
  return y - area.top() + contentsMargins().top() + contentsMargins().bottom();
}

}  // namespace kestrane::app
