#pragma once
// Installing an offered update: download, verify, unpack, swap into place, relaunch. Every
// failure becomes the one sentence shown under the update banner.
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "app/updater/ArchiveUnpacker.hpp"
#include "app/updater/InstallLocation.hpp"
#include "app/updater/UpdateFeed.hpp"
#include "app/updater/UpdateTransport.hpp"

namespace kestrane::updater {

struct InstallEnvironment {
  InstallLocation install;
  std::string currentVersion;
  std::string publicKeyBase64;  // the publisher's Ed25519 key built into the application
  TransportOptions transport;
  UnpackLimits limits;
  std::vector<std::string> relaunchArguments;
  // Ends the real download early (the application is closing); the install then changes nothing.
  std::stop_token stop;
  // Seams for tests; empty means the real download and launcher.
  std::function<void(const std::string& url, const std::filesystem::path& to)> download;
  std::function<void(const std::filesystem::path&, const std::vector<std::string>&)> launch;
  std::function<void(const std::filesystem::path& staged, const std::filesystem::path& root,
                     const std::filesystem::path& setAside)>
      swap;
};

struct InstallOutcome {
  bool relaunched = false;     // the new version is in place and started: quit now
  std::string failureMessage;  // empty on success
};

InstallOutcome installUpdate(const UpdateInfo& update, const InstallEnvironment& environment);

}  // namespace kestrane::updater
