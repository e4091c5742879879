#include "app/updater/UpdateChecker.hpp"

#include <QCoreApplication>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include "app/updater/UpdateCheck.hpp"

namespace kestrane::updater {

UpdateChecker::Config UpdateChecker::defaultConfig(const std::string& executable) {
  Config config;
  config.feedUrl = feedUrl();
  config.currentVersion = shortVersion();
  config.publisherKey = publisherKey();
  // Without a publisher key nothing could be verified, so nothing is offered.
  if (!config.publisherKey.empty()) config.install = updatableInstall(executable);
  config.quit = [] { QCoreApplication::quit(); };
  return config;
}

UpdateChecker::UpdateChecker(Config config, QObject* parent) : QObject(parent), config_(std::move(config)) {}

UpdateChecker::~UpdateChecker() { stopInstall_.request_stop(); }

void UpdateChecker::check() {
  if (checked_ || !config_.install) return;
  checked_ = true;
  auto url = config_.feedUrl;
  auto version = config_.currentVersion;
  auto transport = config_.transport;
  auto lookup = config_.lookup;
  QtConcurrent::run([url, version, transport, lookup] {
    return lookup ? lookup() : checkForUpdate(url, version, transport);
  }).then(this, [this](std::optional<UpdateInfo> offered) {
    if (!offered) return;
    available_ = std::move(offered);
    emit changed();
  });
}

void UpdateChecker::installAndRelaunch() {
  if (!available_ || installing_ || !config_.install) return;
  installing_ = true;
  failureMessage_.clear();
  emit changed();
  auto env = config_.installer;
  env.install = *config_.install;
  env.currentVersion = config_.currentVersion;
  env.publicKeyBase64 = config_.publisherKey;
  env.transport = config_.transport;
  env.stop = stopInstall_.get_token();
  auto update = *available_;
  QtConcurrent::run([update, env] { return installUpdate(update, env); }).then(this, [this](InstallOutcome outcome) {
    if (outcome.relaunched && config_.quit) config_.quit();
    // Still here: either the install failed, or quitting did not end the application.
    failureMessage_ = QString::fromStdString(outcome.failureMessage);
    installing_ = false;
    emit changed();
  });
}

}  // namespace kestrane::updater
