#pragma once
// Where the running application is installed, and whether it may replace itself there.
// A self-contained install is the folder `cmake --install` makes ("<root>/bin/kestrane-app")
// with a marker file at its root; system installs are left to the package manager.
#include <filesystem>
#include <optional>

namespace kestrane::updater {

inline constexpr const char* kBundleMarker = ".kestrane-bundle";
inline constexpr const char* kBundleFolderName = "Kestrane";

struct InstallLocation {
  std::filesystem::path root;        // the install folder that an update replaces
  std::filesystem::path executable;  // the program inside it, relaunched after an update
  std::filesystem::path executableInTree() const { return executable.lexically_relative(root); }
};

// The install the executable belongs to, when it may be updated in place: it carries the marker,
// does not live under /usr, and both it and its parent folder are writable.
std::optional<InstallLocation> updatableInstall(const std::filesystem::path& executable);

}  // namespace kestrane::updater
