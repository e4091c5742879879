// kestrane-app [FILES...]: the desktop application. Files given here are taken as a drop would
// be; this is how the file manager's "Open with" reaches the window.
#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#include "app/core/PipelineEngine.hpp"
#include "app/core/QuitSignals.hpp"
#include "app/updater/Relaunch.hpp"
#include "app/views/Application.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

int main(int argc, char** argv) {
  // After an update the new copy starts while the old one is still quitting.
  kestrane::updater::waitForReplacedInstance();
  // Scratch files of earlier runs that ended without the chance to remove them.
  kestrane::platform::ScratchFiles::sweepOrphans();
  QApplication qt(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
  int status = 0;
  {
    // As a window close: the loop ends, and the job stops and cleans up as `app` goes; further
    // signals meanwhile wait for that.
    kestrane::app::QuitSignals quitSignals([] { QApplication::quit(); });
    kestrane::app::Application app(qt, std::make_shared<kestrane::app::PipelineEngine>());
    QStringList files;
    for (const QString& arg : qt.arguments().mid(1)) {
      const QUrl url(arg);
      files << (url.isLocalFile() ? url.toLocalFile() : QFileInfo(arg).absoluteFilePath());
    }
    app.start(files);
    status = qt.exec();
  }
  kestrane::platform::ScratchFiles::removeAll();
  return status;
}
