// kestrane-app [FILES...]: the desktop application. Files given here are taken as a drop would
// be; this is how the file manager's "Open with" reaches the window.
#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#include "app/core/JobModel.hpp"
#include "app/core/PipelineEngine.hpp"
#include "app/views/Brand.hpp"
#include "app/views/DesktopWorkspace.hpp"
#include "app/views/MainWindow.hpp"

int main(int argc, char** argv) {
  using namespace kestrane::app;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrane"));
  QApplication::setOrganizationName(QStringLiteral("Kestrane"));
  QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("kestrane"));
  Brand::applyTheme(app);

  JobModel job(std::make_shared<PipelineEngine>());
  DesktopWorkspace workspace;
  QtFileDialogs dialogs;
  MainWindow window({&job, &workspace, &dialogs});
  window.show();
  job.checkSpeechModel();

  QStringList paths;
  for (const QString& arg : app.arguments().mid(1)) {
    const QUrl url(arg);
    paths << (url.isLocalFile() ? url.toLocalFile() : QFileInfo(arg).absoluteFilePath());
  }
  if (!paths.isEmpty()) job.accept(paths);
  return app.exec();
}
