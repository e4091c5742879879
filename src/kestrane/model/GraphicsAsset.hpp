#pragma once
// One motion graphic of a session, rendered or failed.
#include <optional>
#include <string>

#include "kestrane/model/GraphicsDensity.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

struct GraphicsAsset {
  std::string name;
  std::string fileName;
  std::optional<std::string> relativePath;
  double placementSeconds = 0;
  GraphicKind kind = GraphicKind::alphaOverlay;
  double durationSeconds = 0;
  std::optional<double> renderSeconds;
  std::optional<std::string> failure;
  std::optional<std::string> anchorText;
  std::optional<bool> anchoredToTranscript;
  std::optional<double> spokenSeconds;
  std::optional<double> estimatedPlacementSeconds;

  TimeRange range() const { return {placementSeconds, placementSeconds + durationSeconds}; }
  std::string timecode() const;
  std::string preciseTimecode() const;

  friend bool operator==(const GraphicsAsset&, const GraphicsAsset&) = default;
};

}  // namespace kestrane
