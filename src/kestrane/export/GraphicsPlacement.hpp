#pragma once
// One rendered motion graphic placed on the cut timeline, on a connected lane above the cut.
#include <cstddef>
#include <functional>
#include <string>

#include "kestrane/model/GraphicMedia.hpp"
#include "kestrane/model/GraphicsDensity.hpp"

namespace kestrane {

struct GraphicsPlacement {
  std::string name;
  std::string fileName;
  GraphicMedia media;
  double startSeconds = 0;     // in-point on the cut timeline, never negative
  double durationSeconds = 0;  // length on the timeline
  GraphicKind kind = GraphicKind::alphaOverlay;
  bool isEstimate = false;  // the in-point was not anchored to the transcript
  int lane = 1;             // 1 or more

  double endSeconds() const { return startSeconds + durationSeconds; }
  std::string url() const;       // file URL of the rendered file
  std::string timecode() const;  // the in-point as "mm:ss" with a tenth when there is one

  friend bool operator==(const GraphicsPlacement&, const GraphicsPlacement&) = default;
};

}  // namespace kestrane

template <>
struct std::hash<kestrane::GraphicsPlacement> {
  std::size_t operator()(const kestrane::GraphicsPlacement& p) const noexcept {
    std::size_t h = std::hash<kestrane::GraphicMedia>{}(p.media);
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>{}(p.name));
    mix(std::hash<std::string>{}(p.fileName));
    mix(std::hash<double>{}(p.startSeconds));
    mix(std::hash<double>{}(p.durationSeconds));
    mix(static_cast<std::size_t>(p.kind));
    mix(p.isEstimate ? 1u : 0u);
    mix(std::hash<int>{}(p.lane));
    return h;
  }
};
