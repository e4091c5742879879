#pragma once
// The application's one window, titled "Kestrane", holding the root view.
#include <QMainWindow>

#include "app/views/RootView.hpp"

namespace kestrane::app {

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(AppServices services, QWidget* parent = nullptr);
  RootView* root() const { return root_; }
  QUndoStack* undoStack() const { return undo_; }

 protected:
  bool event(QEvent* event) override;

 private:
  JobModel* job_;
  QUndoStack* undo_;
  RootView* root_;
};

}  // namespace kestrane::app
