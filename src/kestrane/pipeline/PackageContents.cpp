#include "kestrane/pipeline/PackageContents.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/MixedPackage.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/MoveRecord.hpp"

#include <string_view>
#include <vector>

namespace kestrane::Pipeline {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSessionSuffix = ".kestrane.json";

std::optional<fs::path> ifFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) ? std::optional(path) : std::nullopt;
}

}  // namespace

std::string sessionStem(const fs::path& sessionFile) {
  const std::string name = sessionFile.filename().string();
  if (name.ends_with(kSessionSuffix)) return name.substr(0, name.size() - kSessionSuffix.size());
  return sessionFile.stem().string();
}

bool isPackageFileName(std::string_view name, std::string_view stem) {
  for (std::string_view fixed :
       {"transcript.md", "captions.srt", "script-coverage.md", "visual-ideas.md", "brand-spec.md"}) {
    if (name == fixed) return true;
  }
  if (stem.empty() || !name.starts_with(stem)) return false;
  const std::string_view tail = name.substr(stem.size());
  return tail == ".fcpxml" || tail == " (Premiere).xml" || tail == kSessionSuffix || tail == " rough cut.mp4";
}

namespace {

constexpr std::string_view kSetAsideMovie = " rough cut (not this cut";
constexpr std::string_view kMovieExtension = ").mp4";

}  // namespace

fs::path PackageLayout::setAsideMovie(int n) const {
  const std::string count = n > 1 ? " " + std::to_string(n) : std::string();
  return dir / (stem + std::string(kSetAsideMovie) + count + std::string(kMovieExtension));
}

fs::path PackageLayout::freeSetAsideMovie() const {
  for (int n = 1;; ++n) {
    const fs::path name = setAsideMovie(n);
    // One that can't be looked at is taken too: the move checks it before anything moves.
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(name, ec)) || ec) return name;
  }
}

bool isSetAsideMovieName(std::string_view name, std::string_view stem) {
  if (stem.empty() || !name.starts_with(stem)) return false;
  std::string_view tail = name.substr(stem.size());
  if (!tail.starts_with(kSetAsideMovie) || !tail.ends_with(kMovieExtension)) return false;
  tail = tail.substr(kSetAsideMovie.size(), tail.size() - kSetAsideMovie.size() - kMovieExtension.size());
  if (tail.empty()) return true;
  // " 2" and on: a count with no leading zero.
  if (tail.size() < 2 || tail[0] != ' ' || tail[1] == '0') return false;
  return tail.substr(1).find_first_not_of("0123456789") == std::string_view::npos;
}

std::vector<fs::path> sessionFilesIn(const fs::path& folder, std::error_code& ec) {
  std::vector<fs::path> found;
  std::error_code entryError;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (isSessionFileName(name) && entry.is_regular_file(entryError)) {
      found.push_back(entry.path());
    }
  }
  return found;
}

bool isPackageFolderName(const std::string& folderName) {
  return folderName.ends_with(" Kestrane") || folderName.ends_with(".kestrane");
}

bool isPackageFolder(const fs::path& dir) {
  return isPackageFolderName((dir.has_filename() ? dir : dir.parent_path()).filename().string());
}

bool holdsPlainFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::symlink_status(path, ec));
}

bool isSessionFileName(std::string_view name) {
  return name.size() > kSessionSuffix.size() && name.ends_with(kSessionSuffix);
}

namespace {

fs::path foundSessionFile(const fs::path& sessionOrPackage) {
  std::error_code ec;
  if (!fs::exists(sessionOrPackage, ec)) {
    throw NoSessionFound(fmt::format("No session file or package folder at {}.", sessionOrPackage.string()));
  }
  if (!fs::is_directory(sessionOrPackage, ec)) return sessionOrPackage;
  const std::vector<fs::path> found = sessionFilesIn(sessionOrPackage, ec);
  if (ec) {
    throw PipelineError(fmt::format("Can't read the folder {} — {}.", sessionOrPackage.string(), ec.message()));
  }
  if (found.empty()) {
    throw NoSessionFound(
        fmt::format("No session file (.kestrane.json) in {} — is it a package?", sessionOrPackage.string()));
  }
  if (found.size() > 1) {
    throw PipelineError(
        fmt::format("{} holds several session files — name the one to re-cut.", sessionOrPackage.string()));
  }
  return found.front();
}

// Whatever has the record's name: one that is no file is set aside too, and said so.
bool holdsLeftMove(const fs::path& folder) {
  struct stat st {};
  return ::lstat((folder / detail::kMoveRecordName).c_str(), &st) == 0;
}

}  // namespace

fs::path sessionFileFor(const fs::path& sessionOrPackage, std::vector<std::string>& warnings) {
  std::error_code ec;
  const bool isFolder = fs::is_directory(sessionOrPackage, ec);
  const fs::path folder = isFolder ? sessionOrPackage : sessionOrPackage.parent_path();
  // A run killed while moving its files into place left the record of the move: until the move
  // is finished the folder holds the session before it, or none (the session file moves last).
  // Taking the lock finishes it; a writer that still holds the lock finishes it itself.
  std::exception_ptr busy;
  std::vector<std::string> found;
  if (!folder.empty() && holdsLeftMove(folder)) {
    try {
      const detail::PackageLock lock(folder);
      found = lock.warnings();
    } catch (const PackageBusy&) {
      busy = std::current_exception();
    }
  }
  warnings.insert(warnings.end(), found.begin(), found.end());
  try {
    return foundSessionFile(sessionOrPackage);
  } catch (const NoSessionFound& e) {
    if (busy) std::rethrow_exception(busy);
    // A first cut stopped before any of its files was in place left only hidden files.
    if (auto cleared = isFolder ? detail::clearAbandonedFolder(sessionOrPackage) : std::nullopt) {
      found.push_back(*cleared);
      warnings.push_back(std::move(*cleared));
    }
    throw NoSessionFound(e.what(), std::move(found));
  }
}

PackageContents packageContents(const fs::path& sessionFile, const std::string& footageStem) {
  PackageContents contents;
  contents.session = sessionFile;
  contents.layout = {sessionFile.parent_path(), footageStem};
  const PackageLayout& layout = contents.layout;
  // Only a session file named as a package's is can have the package's timeline beside it.
  if (isSessionFileName(sessionFile.filename().string())) contents.fcpxml = ifFile(layout.fcpxml());
  contents.isPackage = isPackageFolderName(layout.dir.filename().string()) || contents.fcpxml;
  contents.premiereXml = ifFile(layout.premiereXml());
  if (holdsPlainFile(layout.movie())) contents.movie = layout.movie();
  contents.visualIdeas = ifFile(layout.visualIdeas());
  std::error_code ec;
  if (fs::is_directory(layout.assets(), ec)) contents.assetsDir = layout.assets();
  return contents;
}

OpenedPackage readPackage(const fs::path& sessionOrPackage) {
  OpenedPackage opened;
  std::vector<std::string> warnings;
  fs::path sessionFile;
  try {
    sessionFile = sessionFileFor(sessionOrPackage, warnings);
  } catch (const PackageMayBeMixed& e) {
    // The record that made it so is aside now, or stays where this account can't act on it:
    // the package opens, saying so, for its re-cut.
    warnings.emplace_back(e.what());
    opened.mayBeMixed = true;
    try {
      sessionFile = foundSessionFile(sessionOrPackage);
    } catch (const NoSessionFound& none) {
      throw NoSessionFound(none.what(), warnings);
    }
  }
  try {
    opened.session = KestraneSession::read(sessionFile);
  } catch (const UserFacingError& e) {
    if (warnings.empty()) throw;
    std::string message = e.what();
    for (const std::string& warning : warnings) message += " " + warning;
    throw PipelineError(message);
  }
  if (auto mixed = opened.mayBeMixed ? std::nullopt : mixedPackageNote(sessionFile.parent_path())) {
    warnings.push_back(std::move(*mixed));
    opened.mayBeMixed = true;
  }
  opened.contents = packageContents(sessionFile, sourceStem(opened.session.source.path));
  opened.contents.warnings = std::move(warnings);
  return opened;
}

OpenedPackage openPackage(const fs::path& sessionOrPackage) {
  OpenedPackage opened = readPackage(sessionOrPackage);
  std::error_code ec;
  opened.footageMissing = !fs::exists(opened.session.source.path, ec);
  if (!opened.footageMissing) {
    // The session is shown, played and cut on the file's clock, whichever build stored it.
    FootageVerdict verdict = footageVerdict(opened.session);
    if (verdict.change) opened.footageChanged = footageChangeNote(*verdict.change, verdict.remedy);
    else if (verdict.countedClock) opened.session = onFileClock(std::move(opened.session), *verdict.countedClock);
  }
  return opened;
}

}  // namespace kestrane::Pipeline
