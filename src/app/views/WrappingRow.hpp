#pragma once
// A row of controls that fits any width: the leading items sit at the left and the trailing ones
// (those added after the stretch) at the right, and whatever does not fit the line goes to the
// next one, keeping the same sides. Each item keeps its own width, so a label set not to wrap
// never breaks mid-phrase, except one added to fill: it takes what its line leaves. Hidden
// widgets take no room.
#include <QLayout>
#include <QList>

namespace kestrane::app {

class WrappingRow : public QLayout {
 public:
  explicit WrappingRow(QWidget* parent = nullptr, int spacing = 12);
  ~WrappingRow() override;

  // Items added from here on sit at the right.
  void addStretch();
  // `widget` widened to what its line leaves free.
  void addFilling(QWidget* widget);

  void addItem(QLayoutItem* item) override;
  int count() const override { return int(items_.size()); }
  QLayoutItem* itemAt(int index) const override { return items_.value(index); }
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Places the items within `rect` (only measures when `place` is false); returns the height used.
  int arrange(const QRect& rect, bool place) const;

  QList<QLayoutItem*> items_;
  qsizetype trailingFrom_ = -1;
  QList<const QLayoutItem*> filling_;
  int gap_;
};

}  // namespace kestrane::app
