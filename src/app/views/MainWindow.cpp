#include "app/views/MainWindow.hpp"

namespace kestrane::app {

MainWindow::MainWindow(AppServices services, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Kestrane"));
  root_ = new RootView(services, this);
  setCentralWidget(root_);
  resize(760, 760);
}

}  // namespace kestrane::app
