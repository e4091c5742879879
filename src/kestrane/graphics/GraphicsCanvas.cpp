#include "kestrane/graphics/GraphicsCanvas.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane {

GraphicsCanvas GraphicsCanvas::forSource(const SourceMedia& source) {
  GraphicsCanvas c;
  double frame = source.frameDuration.timescale != 0 ? source.frameDuration.seconds() : 0;
  if (!std::isfinite(frame) || frame < 0.000001) frame = 0.000001;
  c.fps = static_cast<int>(std::round(std::clamp(1.0 / frame, 1.0, 60.0)));
  if (source.hasVideo && source.width >= 1 && source.height >= 1) {
    if (source.width > source.height) {
      c.width = 1920;
      c.height = 1080;
    } else if (source.height > source.width) {
      c.width = 1080;
      c.height = 1920;
    } else {
      c.width = 1080;
      c.height = 1080;
    }
  }
  return c;
}

}  // namespace kestrane
