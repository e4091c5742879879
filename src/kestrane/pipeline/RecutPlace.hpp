#pragma once
// Where a re-cut writes. A folder is rewritten in place only when it is a package; anything
// else gets a new package under the same free-name rule as a first run, so no folder that is
// not a package (and no other package) is ever written into.
#include <filesystem>
#include <optional>
#include <string>

#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline::detail {

// True when `folderName` is a package folder made for the project `projectName`:
// "<name> Kestrane", "<name> Kestrane.kestrane" or a numbered "<name> Kestrane <n>.kestrane",
// with the name made safe as a folder name the way a run makes it.
bool namesPackageOf(const std::string& folderName, const std::string& projectName);

// - A session file outside a package: a new package beside the session file. A folder is a
//   package as packageContents judges it for footage whose stem is `footageStem`.
// - Inside a package, with no new project name (or the package's own): that package, with the
//   session file given rewritten under the name it has (a "*.kestrane.json" renamed by hand).
// - Inside a package, with a new project name: a new package beside the old one.
// A package the session lies in is locked for as long as the place lives (PackageLock): throws
// PackageBusy when another run holds it.
PackagePlace recutPackagePlace(const std::filesystem::path& sessionPath, const std::optional<std::string>& projectName,
                               const std::string& footageStem);

}  // namespace kestrane::Pipeline::detail
