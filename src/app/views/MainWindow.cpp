#include "app/views/MainWindow.hpp"

namespace kestrane::app {

MainWindow::MainWindow(AppServices services, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Kestrane"));
  // Ctrl+Z and Ctrl+Shift+Z walk the job model's history of hand edits, which it empties
  // whenever the editor shows another video.
  undo_ = services.job->editHistory();
  root_ = new RootView(services, this);
  setCentralWidget(root_);
  resize(760, 760);
}

}  // namespace kestrane::app
