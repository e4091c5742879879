#include "kestrane/pipeline/RecutPlace.hpp"

#include <charconv>
#include <string_view>

#include "kestrane/pipeline/PackageNaming.hpp"

namespace kestrane::Pipeline::detail {

namespace {

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A package renamed by hand still holds its timeline beside its session file, both named after
// the footage.
bool holdsPackageFiles(const std::filesystem::path& folder, const std::filesystem::path& sessionPath) {
  constexpr std::string_view sessionExtension = ".kestrane.json";
  const std::string sessionName = sessionPath.filename().string();
  if (!endsWith(sessionName, sessionExtension)) return false;
  const std::string stem = sessionName.substr(0, sessionName.size() - sessionExtension.size());
  std::error_code ec;
  return std::filesystem::is_regular_file(folder / (stem + ".fcpxml"), ec);
}

}  // namespace

bool isPackageFolderName(const std::string& folderName) {
  return endsWith(folderName, " Kestrane") || endsWith(folderName, ".kestrane");
}

bool namesPackageOf(const std::string& folderName, const std::string& projectName) {
  if (folderName == packageFolderName(projectName) ||
      folderName == safeFolderName(projectName, std::string_view(" Kestrane.kestrane").size()) +
                        " Kestrane") {
    return true;
  }
  // "<name> Kestrane <n>.kestrane", the name a run takes when the plain one is in use.
  constexpr std::string_view extension = ".kestrane";
  if (!endsWith(folderName, extension)) return false;
  const std::string_view stem =
      std::string_view(folderName).substr(0, folderName.size() - extension.size());
  const std::size_t space = stem.rfind(' ');
  if (space == std::string_view::npos) return false;
  int ordinal = 0;
  const char* first = stem.data() + space + 1;
  const char* last = stem.data() + stem.size();
  const auto [end, ec] = std::from_chars(first, last, ordinal);
  if (ec != std::errc() || end != last || ordinal < 2) return false;
  return folderName == packageFolderName(projectName, ordinal);
}

PackagePlace recutPackagePlace(const std::filesystem::path& sessionPath,
                               const std::optional<std::string>& projectName) {
  const std::filesystem::path folder = sessionPath.parent_path();
  const std::string folderName = folder.filename().string();
  if (!isPackageFolderName(folderName) && !holdsPackageFiles(folder, sessionPath)) {
    return {folder, std::nullopt};
  }

  const auto name = trimmedOrAbsent(projectName);
  if (recutPackageDir(sessionPath, projectName) == folder ||
      (name && namesPackageOf(folderName, *name))) {
    return {folder.parent_path(), folder};
  }
  return {folder.parent_path(), std::nullopt};
}

}  // namespace kestrane::Pipeline::detail
