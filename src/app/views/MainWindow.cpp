#include "app/views/MainWindow.hpp"

#include <QEvent>

namespace kestrane::app {

MainWindow::MainWindow(AppServices services, QWidget* parent) : QMainWindow(parent), job_(services.job) {
  setWindowTitle(QStringLiteral("Kestrane"));
  // Ctrl+Z and Ctrl+Shift+Z walk the job model's history of hand edits, which it empties
  // whenever the editor shows another video.
  undo_ = services.job->editHistory();
  root_ = new RootView(services, this);
  setCentralWidget(root_);
  resize(760, 760);
}

bool MainWindow::event(QEvent* event) {
  // Back in front, the user may have replaced, cut off or put back the footage meanwhile.
  if (event->type() == QEvent::WindowActivate) job_->lookAgainAtFootage();
  return QMainWindow::event(event);
}

}  // namespace kestrane::app
