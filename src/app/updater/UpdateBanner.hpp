#pragma once
// The top of the drop zone: nothing while no update is offered; otherwise one pulsing violet
// link that installs the update, with the last install failure under it.
#include <QWidget>

class QLabel;
class QPushButton;
class QVariantAnimation;

namespace kestrane::updater {

class UpdateChecker;

class UpdateBanner : public QWidget {
  Q_OBJECT

 public:
  explicit UpdateBanner(UpdateChecker& checker, QWidget* parent = nullptr);

  QPushButton* link() const { return link_; }
  QLabel* failure() const { return failure_; }

 private:
  void refresh();

  UpdateChecker& checker_;
  QPushButton* link_;
  QLabel* failure_;
  QVariantAnimation* glow_;
};

}  // namespace kestrane::updater
