#pragma once
// One screen of the window. Screens read the job model and call its operations; the root view
// asks the shown screen to refresh whenever the model changes.
#include <QWidget>

#include "app/core/JobModel.hpp"
#include "app/core/Workspace.hpp"
#include "app/updater/UpdateChecker.hpp"

namespace kestrane::app {

// What every screen may use.
struct AppServices {
  JobModel* job = nullptr;
  Workspace* workspace = nullptr;
  FileDialogs* dialogs = nullptr;
  updater::UpdateChecker* updates = nullptr;  // none: no update banner
};

class ScreenView : public QWidget {
 public:
  explicit ScreenView(AppServices services, QWidget* parent = nullptr) : QWidget(parent), services_(services) {}
  virtual void refresh() {}

 protected:
  JobModel& job() const { return *services_.job; }
  AppServices services_;
};

}  // namespace kestrane::app
