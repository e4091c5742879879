#pragma once
// The size and frame rate every composition of one graphics run is built for.
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane {

struct GraphicsCanvas {
  int width = 1920;
  int height = 1080;
  int fps = 30;  // 1 to 60

  bool isVertical() const { return width < height; }
  // 1920x1080, 1080x1920 or 1080x1080 by the source's shape (1920x1080 without video), at the
  // source's frame rate.
  static GraphicsCanvas forSource(const SourceMedia& source);

  friend bool operator==(const GraphicsCanvas&, const GraphicsCanvas&) = default;
};

}  // namespace kestrane
