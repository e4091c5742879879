#include "kestrane/pipeline/MixedPackage.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/PackageLock.hpp"

namespace kestrane::Pipeline {

namespace fs = std::filesystem;

std::optional<std::string> mixedPackageNote(const fs::path& folder) {
  if (!detail::isMarkedMayBeMixed(folder)) return std::nullopt;
  return fmt::format(
      "A Kestrane run was interrupted while moving the files of {} into place, and its move could not be finished "
      "— {}",
      folder.string(), kMayBeMixed);
}

namespace detail {

bool isMarkedMayBeMixed(const fs::path& folder) {
  // Whatever stands at the mark's name counts: saying so once too often costs a re-cut, saying
  // nothing over a mixed package costs an editor a wrong cut.
  struct stat st {};
  return ::lstat((folder / kMixedMarkName).c_str(), &st) == 0;
}

void markMayBeMixed(const fs::path& folder, const fs::path& record) {
  if (isMarkedMayBeMixed(folder)) return;
  try {
    AtomicFile::write(folder / kMixedMarkName,
                      "A Kestrane run was interrupted while moving this package's files into place, and its move could "
                      "not be finished: the package may hold parts of two cuts until it is re-cut.\n");
  } catch (const AtomicFile::WriteError& e) {
    throw PackageUnlockable(
        fmt::format("{} records a move into place that a Kestrane run was interrupted in, which can't be finished "
                    "whole, and the package can't be marked as maybe holding parts of two cuts ({}), so nothing was "
                    "changed — try again once a file can be written there.",
                    record.string(), e.reason()));
  }
}

}  // namespace detail
}  // namespace kestrane::Pipeline
