#pragma once
// The start screen: drop footage (with a script) anywhere, or pick it, or reopen an earlier cut.
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "app/views/BrandWidgets.hpp"
#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class DropZoneView : public ScreenView {
 public:
  explicit DropZoneView(AppServices services, QWidget* parent = nullptr);
  void refresh() override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void setTargeted(bool targeted);
  void chooseFootage();

  bool targeted_ = false;
  BrandGlyph* glyph_;
  QLabel* hint_;
  QLabel* message_;
  QPushButton* reopenBatch_;
  QPushButton* reopenLast_;
};

}  // namespace kestrane::app
