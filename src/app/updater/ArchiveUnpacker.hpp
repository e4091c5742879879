#pragma once
// Unpacks a verified update archive, refusing anything that could land outside the target
// folder: absolute paths, "..", links out of the tree, devices, hard links, or more bytes than
// the cap.
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace kestrane::updater {

class UnpackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct UnpackLimits {
  std::int64_t maxTotalBytes = std::int64_t{2} * 1024 * 1024 * 1024;
  std::int64_t maxEntries = 100'000;
};

// Extracts a zip or tar archive into `destination` (an existing, empty folder). Throws
// UnpackError, with a phrase fit to follow "Update didn't finish — ", on the first unsafe or
// unreadable entry; what was written so far stays for the caller to remove.
void unpackArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                   const UnpackLimits& limits = {});

}  // namespace kestrane::updater
