// kestrane-app [FILES...]: the desktop application. Files given here are taken as a drop would
// be; this is how the file manager's "Open with" reaches the window.
#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#include "app/core/PipelineEngine.hpp"
#include "app/updater/Relaunch.hpp"
#include "app/views/Application.hpp"

int main(int argc, char** argv) {
  // After an update the new copy starts while the old one is still quitting.
  kestrane::updater::waitForReplacedInstance();
  QApplication qt(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
  kestrane::app::Application app(qt, std::make_shared<kestrane::app::PipelineEngine>());
  QStringList files;
  for (const QString& arg : qt.arguments().mid(1)) {
    const QUrl url(arg);
    files << (url.isLocalFile() ? url.toLocalFile() : QFileInfo(arg).absoluteFilePath());
  }
  app.start(files);
  return qt.exec();
}
