#include "kestrane/export/CutListCheck.hpp"

#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "kestrane/export/FrameSnapping.hpp"

namespace kestrane::CutListCheck {

std::optional<std::string> framesFault(const CutList& cut, const SourceMedia& source) {
  const FrameSnapping::Layout layout = FrameSnapping::layout(source, cut);
  const std::int64_t sourceFrames = FrameSnapping::sourceFrameCount(source.durationSeconds, layout.frameDuration);
  std::int64_t cutFrame = 0, sourceFrame = 0;
  for (std::size_t i = 0; i < layout.pieces.size(); ++i) {
    const FrameSnapping::Piece& p = layout.pieces[i];
    if (p.frameCount() < 1) return fmt::format("piece {} is empty", i);
    if (p.sourceStartFrame < sourceFrame) {
      return fmt::format("piece {} starts at frame {}, before frame {} where the one before ended", i,
                         p.sourceStartFrame, sourceFrame);
    }
    if (sourceFrames > 0 && p.sourceEndFrame > sourceFrames) {
      return fmt::format("piece {} ends at frame {}, past the source's {}", i, p.sourceEndFrame, sourceFrames);
    }
    if (p.cutStartFrame != cutFrame) {
      return fmt::format("piece {} starts at cut frame {}, not {}", i, p.cutStartFrame, cutFrame);
    }
    sourceFrame = p.sourceEndFrame;
    cutFrame = p.cutEndFrame();
  }
  if (layout.totalFrames != cutFrame) {
    return fmt::format("the cut declares {} frames; its pieces hold {}", layout.totalFrames, cutFrame);
  }
  return std::nullopt;
}

std::optional<std::string> fault(const CutList& cut, const SourceMedia& source) {
  // Binary rounding only: the planner joins segments at shared boundaries.
  constexpr double slack = 1e-9;
  if (cut.segments.empty()) return "no segments";
  double at = 0;
  for (std::size_t i = 0; i < cut.segments.size(); ++i) {
    const TimeRange& r = cut.segments[i].range;
    if (!(std::abs(r.start - at) <= slack)) {
      return fmt::format("segment {} starts at {}, not at {} where the cut had reached", i, r.start, at);
    }
    if (!(r.end > r.start)) return fmt::format("segment {} is empty at {}", i, r.start);
    at = r.end;
  }
  if (!(std::abs(at - source.durationSeconds) <= slack)) {
    return fmt::format("the cut ends at {}, the source at {}", at, source.durationSeconds);
  }
  return framesFault(cut, source);
}

void require(const CutList& cut, const SourceMedia& source, std::string_view after) {
  if (auto wrong = fault(cut, source)) {
    throw Broken(fmt::format("the cut planned after {} is unsound: {}", after, *wrong));
  }
}

}  // namespace kestrane::CutListCheck
