#include "app/views/MainWindow.hpp"

#include <QUndoStack>

namespace kestrane::app {

MainWindow::MainWindow(AppServices services, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Kestrane"));
  // The window keeps the hand edits' history, as a document window keeps its undo.
  if (!services.undo) services.undo = new QUndoStack(this);
  undo_ = services.undo;
  root_ = new RootView(services, this);
  setCentralWidget(root_);
  resize(760, 760);
}

}  // namespace kestrane::app
