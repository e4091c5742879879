#include "kestrane/pipeline/RecutPlace.hpp"

#include <charconv>
#include <string_view>

#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"

namespace kestrane::Pipeline::detail {

namespace {

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

bool namesPackageOf(const std::string& folderName, const std::string& projectName) {
  if (folderName == packageFolderName(projectName) ||
      folderName == safeFolderName(projectName, std::string_view(" Kestrane.kestrane").size()) + " Kestrane") {
    return true;
  }
  // "<name> Kestrane <n>.kestrane", the name a run takes when the plain one is in use.
  constexpr std::string_view extension = ".kestrane";
  if (!endsWith(folderName, extension)) return false;
  const std::string_view stem = std::string_view(folderName).substr(0, folderName.size() - extension.size());
  const std::size_t space = stem.rfind(' ');
  if (space == std::string_view::npos) return false;
  int ordinal = 0;
  const char* first = stem.data() + space + 1;
  const char* last = stem.data() + stem.size();
  const auto [end, ec] = std::from_chars(first, last, ordinal);
  if (ec != std::errc() || end != last || ordinal < 2) return false;
  return folderName == packageFolderName(projectName, ordinal);
}

PackagePlace recutPackagePlace(const std::filesystem::path& sessionPath, const std::optional<std::string>& projectName,
                               const std::string& footageStem) {
  const std::filesystem::path folder = sessionPath.parent_path();
  const std::string folderName = folder.filename().string();
  if (!packageContents(sessionPath, footageStem).isPackage) return {folder, std::nullopt, nullptr};

  // Taken before the session is read, and kept even when the new cut goes to a new package, so
  // no other run changes the package this one reads.
  auto lock = std::make_shared<const PackageLock>(folder);
  const auto name = trimmedOrAbsent(projectName);
  if (recutPackageDir(sessionPath, projectName) == folder || (name && namesPackageOf(folderName, *name))) {
    // Only a name a package's session file can have (the one a folder is searched for).
    std::optional<std::filesystem::path> sessionFile;
    if (endsWith(sessionPath.filename().string(), ".kestrane.json") && !sessionStem(sessionPath).empty()) {
      sessionFile = sessionPath;
    }
    return {folder.parent_path(), folder, std::move(lock), std::move(sessionFile)};
  }
  return {folder.parent_path(), std::nullopt, std::move(lock)};
}

}  // namespace kestrane::Pipeline::detail
