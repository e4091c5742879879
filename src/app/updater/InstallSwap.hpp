#pragma once
// Puts a staged install tree in the place of the running one, by renames within one folder.
#include <filesystem>
#include <stdexcept>

namespace kestrane::updater {

// The swap did not happen. When `setAside` is not empty, putting the old tree back failed too
// and it is kept there.
class SwapError : public std::runtime_error {
 public:
  SwapError(const std::string& message, std::filesystem::path setAside = {})
      : std::runtime_error(message), setAside(std::move(setAside)) {}
  std::filesystem::path setAside;
};

// Moves `staged` to `installRoot`; the old tree ends up at `staged`'s path (where the caller
// removes it). Uses an atomic exchange where the file system allows it, else two renames via
// `setAside`, restoring the old tree when the second rename fails.
void swapInstall(const std::filesystem::path& staged, const std::filesystem::path& installRoot,
                 const std::filesystem::path& setAside);

}  // namespace kestrane::updater
