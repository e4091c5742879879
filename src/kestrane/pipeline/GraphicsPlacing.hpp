#pragma once
// Places the graphics already in a package on its timeline again, without analysing, cutting
// or rendering: for graphic files changed or replaced by hand after the package was made.
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "kestrane/export/GraphicsPlacement.hpp"

namespace kestrane::Pipeline {

struct PlacementResult {
  std::filesystem::path fcpxmlURL;
  std::vector<GraphicsPlacement> placements;
  std::vector<std::string> warnings;
};

// Reads the package's session file and rewrites the package's FCPXML with every recorded
// graphic re-planned against the files now in the package. Throws the session file's read
// errors, PipelineError for a session without a cut, PackageBusy while another run writes
// the package, and the FCPXML's write error (the old file then stays). A stop through `stop` ends it with Cancelled
// before the FCPXML is touched.
PlacementResult placeGraphics(const std::filesystem::path& sessionURL, std::stop_token stop = {});

}  // namespace kestrane::Pipeline
