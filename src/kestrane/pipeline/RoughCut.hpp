#pragma once
// The last package files of a job: the rough-cut movie when it is asked for, and the removal of
// files an earlier cut of the same package left behind that this cut does not make.
#include <filesystem>
#include <optional>

#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline::detail {

// "<stem> rough cut.mp4" in the package folder.
std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files);

// Renders the final cut into the package when `renderMP4` is set and returns where it went.
// The movie appears only once complete, so a failed or stopped render leaves an earlier rough
// cut as it was. A render failure propagates (a re-cut then warns and removes the earlier
// movie); the rendering stage reports the fraction done.
std::optional<std::filesystem::path> renderRoughCut(Job& job, const PackageFiles& files, bool renderMP4);

// The earlier cut's rough cut, when there is one, removed with a warning that says so.
void removeStaleRoughCut(Job& job, const PackageFiles& files);

// A Premiere timeline or rough cut from an earlier cut of this package that this cut did not
// write would be mistaken for the current cut: both are removed, each with a warning that says
// so. Failures are ignored (there usually is nothing to remove). A rough cut about to be
// rendered again stays until the new one replaces it, except that a forced exit removes it.
void removeStaleFiles(Job& job, const PackageFiles& files, bool renderMP4);

}  // namespace kestrane::Pipeline::detail
