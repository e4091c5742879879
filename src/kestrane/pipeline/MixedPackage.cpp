#include "kestrane/pipeline/MixedPackage.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include "kestrane/model/AtomicFile.hpp"

namespace kestrane::Pipeline {

namespace fs = std::filesystem;

namespace {

fs::path markIn(const fs::path& folder) { return folder / detail::kMixedMarkName; }

// What stands at the mark's name where it is something a package write can't remove: a folder,
// a FIFO, a device. Nothing for the mark itself (a plain file), a link, or nothing at all.
std::optional<std::string_view> markInTheWay(const fs::path& folder) {
  struct stat st {};
  if (::lstat(markIn(folder).c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}

}  // namespace

std::optional<std::string> mixedPackageNote(const fs::path& folder) {
  if (!detail::isMarkedMayBeMixed(folder)) return std::nullopt;
  const std::string said = fmt::format(
      "A Kestrane run was interrupted while moving the files of {} into place, and its move could not be finished",
      folder.string());
  // A re-cut can't take such a thing away, so running it again would not make the package whole.
  if (const auto kind = markInTheWay(folder)) {
    return fmt::format(
        "{} — the package may hold parts of two cuts, and {}, the name that marks it so, holds {} rather than the "
        "file Kestrane writes there: remove it, then run the re-cut again, which makes the package whole.",
        said, markIn(folder).string(), *kind);
  }
  return fmt::format("{} — {}", said, kMayBeMixed);
}

void refuseIfMayBeMixed(const fs::path& folder) {
  if (auto mixed = mixedPackageNote(folder)) throw PackageMayBeMixed(*mixed);
}

namespace detail {

bool isMarkedMayBeMixed(const fs::path& folder) {
  // Whatever stands at the mark's name counts: saying so once too often costs a re-cut, saying
  // nothing over a mixed package costs an editor a wrong cut.
  struct stat st {};
  return ::lstat(markIn(folder).c_str(), &st) == 0;
}

void markMayBeMixed(const fs::path& folder, const fs::path& record) {
  if (isMarkedMayBeMixed(folder)) return;
  try {
    AtomicFile::write(markIn(folder),
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

std::optional<fs::path> markToTakeAway(const fs::path& folder) {
  if (!isMarkedMayBeMixed(folder)) return std::nullopt;
  if (markInTheWay(folder)) throw PackageMayBeMixed(*mixedPackageNote(folder));
  return markIn(folder);
}

}  // namespace detail
}  // namespace kestrane::Pipeline
