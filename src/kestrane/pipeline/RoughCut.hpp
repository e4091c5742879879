#pragma once
// The rough-cut movie of a package: rendered when it is asked for, and an earlier cut's movie
// kept only while it still shows the cut the package now holds.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline::detail {

// "<stem> rough cut.mp4" in the package folder.
std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files);

// Before the cut is decided: records in the session which cut the movie already in the package
// shows, or that there is none. Sessions written before the record existed had their movie
// removed whenever the cut changed, so their movie shows their stored cut.
void noteEarlierRoughCut(Job& job, const PackagePlace& place);

// Renders the final cut into the package when `renderMP4` is set, records the cut it shows and
// returns where it went. The movie appears only once complete, so a failed or stopped render
// leaves an earlier rough cut as it was. A render failure propagates; the rendering stage
// reports the fraction done.
std::optional<std::filesystem::path> renderRoughCut(Job& job, const PackageFiles& files, bool renderMP4);

// The earlier cut's movie, unless it plays exactly the frames of this job's cut, is removed
// with a warning that says so. Failures are ignored (there usually is nothing to remove).
void removeStaleRoughCut(Job& job, const PackageFiles& files);

// After this job's own movie was stopped or failed: removeStaleRoughCut, and the sentences
// that say what became of the earlier movie.
std::vector<std::string> settleEarlierRoughCut(Job& job, const PackageFiles& files);

// While this job's own movie renders: a forced exit removes an earlier movie that does not show
// this cut, so it is never left beside the new timeline. The render lets it go once it replaces it.
void guardEarlierRoughCut(Job& job, const PackageFiles& files);

}  // namespace kestrane::Pipeline::detail
