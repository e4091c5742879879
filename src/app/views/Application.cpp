#include "app/views/Application.hpp"

#include "app/views/Brand.hpp"

namespace kestrane::app {

namespace {

QApplication& themed(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("Kestrane"));
  QApplication::setOrganizationName(QStringLiteral("Kestrane"));
  QApplication::setDesktopFileName(QStringLiteral("kestrane"));
  Brand::applyTheme(app);
  return app;
}

}  // namespace

// The names are set before the job model opens the application's settings under them.
Application::Application(QApplication& app, std::shared_ptr<EngineApi> engine)
    : job_((themed(app), std::move(engine))),
      updates_(updater::UpdateChecker::defaultConfig(QCoreApplication::applicationFilePath().toStdString())),
      window_({&job_, &workspace_, &dialogs_, &updates_}) {}

void Application::start(const QStringList& files) {
  window_.show();
  job_.checkSpeechModel();
  updates_.check();
  if (!files.isEmpty()) job_.accept(files);
}

}  // namespace kestrane::app
