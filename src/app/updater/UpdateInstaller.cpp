#include "app/updater/UpdateInstaller.hpp"

#include <stdlib.h>

#include <system_error>

#include "app/updater/ArchiveSignature.hpp"
#include "app/updater/InstallSwap.hpp"
#include "app/updater/Relaunch.hpp"

namespace kestrane::updater {
namespace fs = std::filesystem;
namespace {

// A failure before the running install was touched.
struct Failure {
  std::string detail;
};

// Removes the work folder however the install ends.
struct WorkFolder {
  fs::path path;
  ~WorkFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

fs::path makeWorkFolder(const fs::path& parent) {
  // Beside the install, so the swap is a rename within one file system.
  std::string pattern = (parent / ".kestrane-update-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    throw Failure{"the update couldn't be prepared (" + std::error_code(errno, std::generic_category()).message() +
                  ")"};
  }
  return pattern;
}

std::string unchanged(const std::string& detail, const std::string& version) {
  return "Update didn't finish — " + detail + ". Nothing changed; you're still on " + version + ".";
}

}  // namespace

InstallOutcome installUpdate(const UpdateInfo& update, const InstallEnvironment& env) {
  const auto& install = env.install;
  WorkFolder work;
  fs::path staged;
  try {
    work.path = makeWorkFolder(install.root.parent_path());
    auto archive = work.path / "update.zip";
    try {
      if (env.download) {
        env.download(update.zip, archive);
      } else {
        downloadArchive(update.zip, archive, env.transport, env.stop);
      }
    } catch (const TransferError& error) {
      throw Failure{error.what()};
    }
    if (env.publicKeyBase64.empty() || !update.signature ||
        !archiveIsSigned(archive, *update.signature, env.publicKeyBase64)) {
      throw Failure{"the update couldn't be verified"};
    }
    auto unpacked = work.path / "unpacked";
    fs::create_directory(unpacked);
    try {
      unpackArchive(archive, unpacked, env.limits);
    } catch (const UnpackError& error) {
      throw Failure{error.what()};
    }
    fs::remove(archive);
    staged = unpacked / kBundleFolderName;
    std::error_code missing;
    if (!fs::is_directory(staged, missing) || !fs::is_regular_file(staged / kBundleMarker, missing) ||
        !fs::is_regular_file(staged / install.executableInTree(), missing)) {
      throw Failure{std::string("the update package didn't contain ") + kBundleFolderName};
    }
    auto setAside = work.path / "previous";
    try {
      if (env.swap) {
        env.swap(staged, install.root, setAside);
      } else {
        swapInstall(staged, install.root, setAside);
      }
    } catch (const SwapError& error) {
      if (!error.setAside.empty()) {
        // The running install is no longer where it was: never claim nothing changed. Keep the
        // set-aside tree out of the work folder, which is about to be removed.
        auto kept = install.root.parent_path() / (install.root.filename().string() + " (previous)");
        std::error_code ignored;
        fs::rename(error.setAside, kept, ignored);
        auto where = ignored ? error.setAside : kept;
        if (ignored) work.path.clear();
        return {false, "Update didn't finish — " + std::string(error.what()) +
                           ", and the previous version couldn't be put back; it is kept at " + where.string() + "."};
      }
      throw Failure{error.what()};
    }
  } catch (const Failure& failure) {
    return {false, unchanged(failure.detail, env.currentVersion)};
  } catch (const std::exception& error) {
    return {false, unchanged(error.what(), env.currentVersion)};
  }

  // The new version is in place from here on.
  try {
    if (env.launch) {
      env.launch(install.executable, env.relaunchArguments);
    } else {
      launchAfterExit(install.executable, env.relaunchArguments);
    }
  } catch (const std::exception& error) {
    return {false, "Kestrane " + update.version + " is installed, but it couldn't relaunch itself — " + error.what() +
                       ". Start Kestrane again to use it."};
  }
  return {true, {}};
}

}  // namespace kestrane::updater
