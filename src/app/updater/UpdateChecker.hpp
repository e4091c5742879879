#pragma once
// The updater as the window sees it: one check per launch, an offered update, and an install
// that either relaunches the application or leaves one sentence saying why it did not.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <stop_token>

#include "app/updater/UpdateInstaller.hpp"

namespace kestrane::updater {

class UpdateChecker : public QObject {
  Q_OBJECT

 public:
  struct Config {
    std::string feedUrl;
    std::string currentVersion;
    std::string publisherKey;
    TransportOptions transport;
    // Absent for system installs and builds that are not a self-contained install folder:
    // those never offer updates.
    std::optional<InstallLocation> install;
    // How an install reaches the disk and relaunches; tests replace parts of it.
    InstallEnvironment installer;
    std::function<void()> quit;
    // Replaces the feed request when set (pictures of the window, tests).
    std::function<std::optional<UpdateInfo>()> lookup;
  };

  // The configuration this build ships with, for the program at `executable`.
  static Config defaultConfig(const std::string& executable);

  explicit UpdateChecker(Config config, QObject* parent = nullptr);
  // A download still under way ends rather than running on after the window is gone.
  ~UpdateChecker() override;

  const std::optional<UpdateInfo>& available() const { return available_; }
  bool installing() const { return installing_; }
  const QString& failureMessage() const { return failureMessage_; }
  const std::string& currentVersion() const { return config_.currentVersion; }

  // Asks the feed once; every failure is silent. Finishes in the background.
  void check();
  // Installs the offered update; does nothing without one or while an install runs.
  void installAndRelaunch();

 signals:
  void changed();

 private:
  Config config_;
  std::optional<UpdateInfo> available_;
  bool installing_ = false;
  bool checked_ = false;
  QString failureMessage_;
  std::stop_source stopInstall_;
};

}  // namespace kestrane::updater
