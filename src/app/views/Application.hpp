#pragma once
// Everything kestrane-app sets up around its window: the theme, the job model over an engine,
// the desktop services, the update checker, and the start-up checks.
#include <QApplication>

#include <memory>

#include "app/core/JobModel.hpp"
#include "app/views/DesktopWorkspace.hpp"
#include "app/views/MainWindow.hpp"

namespace kestrane::app {

class Application {
 public:
  Application(QApplication& app, std::shared_ptr<EngineApi> engine);
  // Shows the window, starts the background checks, and takes `files` as a drop.
  void start(const QStringList& files);

  JobModel& job() { return job_; }
  MainWindow& window() { return window_; }

 private:
  JobModel job_;
  DesktopWorkspace workspace_;
  QtFileDialogs dialogs_;
  updater::UpdateChecker updates_;
  MainWindow window_;
};

}  // namespace kestrane::app
