#include "app/updater/InstallLocation.hpp"

#include <unistd.h>

namespace kestrane::updater {
namespace fs = std::filesystem;

std::optional<InstallLocation> updatableInstall(const fs::path& executable) {
  std::error_code error;
  auto exe = fs::canonical(executable, error);
  if (error) return std::nullopt;
  auto root = exe.parent_path().parent_path();
  if (root.empty() || root == root.root_path()) return std::nullopt;
  if (!fs::is_regular_file(root / kBundleMarker, error)) return std::nullopt;
  auto underUsr = root.lexically_relative("/usr");
  if (!underUsr.empty() && *underUsr.begin() != "..") return std::nullopt;
  if (access(root.c_str(), W_OK) != 0 || access(root.parent_path().c_str(), W_OK) != 0) {
    return std::nullopt;
  }
  return InstallLocation{root, exe};
}

}  // namespace kestrane::updater
