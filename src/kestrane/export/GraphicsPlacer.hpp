#pragma once
// Where each rendered graphic of a package goes on the cut timeline: its file found inside the
// package and probed, its in-point and length fixed (the file decides the length, the cut's end
// trims it), plain sentences for whatever was guessed, trimmed or dropped, and overlapping
// graphics stacked on separate lanes.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kestrane/export/GraphicsPlacement.hpp"
#include "kestrane/model/GraphicsAsset.hpp"

namespace kestrane::GraphicsPlacer {

struct Plan {
  std::vector<GraphicsPlacement> placements;  // in the order of the recorded assets
  std::vector<std::string> warnings;
};

// The probed facts of one file; throws an exception whose what() says why it can't be read.
using Probe = std::function<GraphicMedia(const std::filesystem::path&)>;

// Never throws. A recorded path that leads outside the package is not placed.
Plan plan(const std::vector<GraphicsAsset>& assets, const std::filesystem::path& packageDir, double cutSeconds,
          const Probe& probe);

// The same placements in the same order, each on the lowest lane free of what overlaps it;
// a full-frame graphic sits below the overlays that start with or after it.
std::vector<GraphicsPlacement> assignLanes(std::vector<GraphicsPlacement> placements);

}  // namespace kestrane::GraphicsPlacer
