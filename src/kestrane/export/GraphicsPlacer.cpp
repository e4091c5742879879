#include "kestrane/export/GraphicsPlacer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/Timecode.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane::GraphicsPlacer {
namespace {

namespace fs = std::filesystem;

std::string length(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1fs", seconds);
  return text;
}

std::string at(double seconds) { return VisualIdeas::preciseTimecode(seconds); }

bool overlap(const GraphicsPlacement& a, const GraphicsPlacement& b) {
  return a.startSeconds < b.endSeconds() && b.startSeconds < a.endSeconds();
}

// The file a recorded path names, when it lies inside the package: an absolute path, ".."
// steps or a link out of the folder are refused.
std::optional<fs::path> insidePackage(const fs::path& packageDir, const std::string& relativePath) {
  const fs::path relative(relativePath);
  if (relative.empty() || relative.is_absolute() || relative.has_root_name()) return std::nullopt;
  std::error_code error;
  const fs::path root = fs::weakly_canonical(packageDir, error);
  if (error) return std::nullopt;
  const fs::path file = fs::weakly_canonical(packageDir / relative, error);
  if (error) return std::nullopt;
  const auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (rootEnd != root.end() || fileAt == file.end()) return std::nullopt;
  return packageDir / relative;
}

}  // namespace

Plan plan(const std::vector<GraphicsAsset>& assets, const fs::path& packageDir, double cutSeconds, const Probe& probe) {
  Plan out;
  for (const GraphicsAsset& asset : assets) {
    if (asset.failure || !asset.relativePath) continue;
    const auto file = insidePackage(packageDir, *asset.relativePath);
    if (!file) {
      out.warnings.push_back("Graphic not placed — " + asset.fileName + " is recorded at " + *asset.relativePath +
                             ", which is outside the package.");
      continue;
    }
    std::error_code error;
    if (!fs::exists(*file, error)) {
      out.warnings.push_back("Graphic not placed — " + asset.fileName + " is missing from the package (expected " +
                             *asset.relativePath + ").");
      continue;
    }
    GraphicMedia media;
    try {
      media = probe(*file);
    } catch (const Cancelled&) {
      throw;
    } catch (const std::exception& e) {
      out.warnings.push_back("Graphic not placed — couldn't read " + asset.fileName + ": " + FailureMessage::of(e));
      continue;
    }
    if (!(media.durationSeconds > 0) || media.width < 1 || media.height < 1) {
      out.warnings.push_back("Graphic not placed — " + asset.fileName + " probes as empty (0 frames or no picture).");
      continue;
    }
    const double start = std::max(asset.placementSeconds, 0.0);
    if (cutSeconds > 0 && start >= cutSeconds) {
      out.warnings.push_back("Graphic not placed — " + asset.fileName + " sits at " + at(start) +
                             ", past the end of the " + length(cutSeconds) + " cut.");
      continue;
    }
    double duration = media.durationSeconds;
    if (cutSeconds > 0 && cutSeconds < start + duration) {
      duration = cutSeconds - start;
      out.warnings.push_back("Graphic trimmed to the end of the cut — " + asset.fileName + " would have run " +
                             length(media.durationSeconds) + " from " + at(start) + ".");
    }
    if (std::abs(media.durationSeconds - asset.durationSeconds) > 0.2)
      out.warnings.push_back("Graphic placed at its FILE length — " + asset.fileName + " is " +
                             length(media.durationSeconds) + " on disk where the session recorded " +
                             length(asset.durationSeconds) + ".");
    const bool estimate = asset.anchoredToTranscript != true;
    if (estimate)
      out.warnings.push_back("Graphic placed from an ESTIMATE, check it — " + asset.fileName + " at " + at(start) +
                             ": its anchor line wasn't located in the cut transcript, so this "
                             "timecode is the visual-ideas doc's guess. The clip is on the "
                             "timeline; nudge it to taste.");
    out.placements.push_back(
        GraphicsPlacement{asset.name, asset.fileName, std::move(media), start, duration, asset.kind, estimate, 1});
  }
  out.placements = assignLanes(std::move(out.placements));
  return out;
}

std::vector<GraphicsPlacement> assignLanes(std::vector<GraphicsPlacement> placements) {
  std::vector<std::size_t> order(placements.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto& x = placements[a];
    const auto& y = placements[b];
    if (x.startSeconds != y.startSeconds) return x.startSeconds < y.startSeconds;
    return x.kind == GraphicKind::fullFrame && y.kind == GraphicKind::alphaOverlay;
  });
  std::vector<std::size_t> laned;
  for (std::size_t i : order) {
    GraphicsPlacement& p = placements[i];
    int lane = 1;
    if (p.kind == GraphicKind::alphaOverlay)
      for (std::size_t j : laned)
        if (placements[j].kind == GraphicKind::fullFrame && overlap(placements[j], p))
          lane = std::max(lane, placements[j].lane + 1);
    for (bool raised = true; raised;) {
      raised = false;
      for (std::size_t j : laned)
        if (placements[j].lane == lane && overlap(placements[j], p)) {
          ++lane;
          raised = true;
        }
    }
    p.lane = lane;
    laned.push_back(i);
  }
  return placements;
}

}  // namespace kestrane::GraphicsPlacer
