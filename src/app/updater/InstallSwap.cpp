#include "app/updater/InstallSwap.hpp"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstring>

namespace kestrane::updater {
namespace fs = std::filesystem;

void swapInstall(const fs::path& staged, const fs::path& installRoot, const fs::path& setAside) {
  if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, installRoot.c_str(), RENAME_EXCHANGE) == 0) {
    return;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    throw SwapError(std::string("the new version couldn't be moved into place (") + std::strerror(errno) + ")");
  }
  std::error_code error;
  fs::rename(installRoot, setAside, error);
  if (error) throw SwapError("the installed version couldn't be set aside (" + error.message() + ")");
  fs::rename(staged, installRoot, error);
  if (!error) {
    fs::rename(setAside, staged, error);  // leave the old tree where the caller cleans up
    return;
  }
  auto moveError = error.message();
  std::error_code restore;
  fs::rename(setAside, installRoot, restore);
  if (restore) {
    throw SwapError("the new version couldn't be moved into place (" + moveError + ")", setAside);
  }
  throw SwapError("the new version couldn't be moved into place (" + moveError + ")");
}

}  // namespace kestrane::updater
