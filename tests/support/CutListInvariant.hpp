#pragma once
// What every cut list the engine hands on must be, checked the same way by the planner, writer
// and pipeline tests.
#include <gtest/gtest.h>

#include <cmath>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane::test {

// The cut on the source's frame grid, as every writer lays it out: pieces in source order, none
// empty or overlapping another, all inside the source's frames, back to back on the cut.
inline ::testing::AssertionResult framesAreSound(const CutList& cut, const SourceMedia& source) {
  const FrameSnapping::Layout layout = FrameSnapping::layout(source, cut);
  const std::int64_t sourceFrames =
      FrameSnapping::sourceFrameCount(source.durationSeconds, layout.frameDuration);
  std::int64_t cutFrame = 0, sourceFrame = 0;
  for (std::size_t i = 0; i < layout.pieces.size(); ++i) {
    const FrameSnapping::Piece& p = layout.pieces[i];
    if (p.frameCount() < 1) return ::testing::AssertionFailure() << "piece " << i << " is empty";
    if (p.sourceStartFrame < sourceFrame) {
      return ::testing::AssertionFailure()
             << "piece " << i << " starts at frame " << p.sourceStartFrame << ", before frame "
             << sourceFrame << " where the one before ended";
    }
    if (sourceFrames > 0 && p.sourceEndFrame > sourceFrames) {
      return ::testing::AssertionFailure() << "piece " << i << " ends at frame " << p.sourceEndFrame
                                           << ", past the source's " << sourceFrames;
    }
    if (p.cutStartFrame != cutFrame) {
      return ::testing::AssertionFailure()
             << "piece " << i << " starts at cut frame " << p.cutStartFrame << ", not " << cutFrame;
    }
    sourceFrame = p.sourceEndFrame;
    cutFrame = p.cutEndFrame();
  }
  if (layout.totalFrames != cutFrame) {
    return ::testing::AssertionFailure()
           << "the cut declares " << layout.totalFrames << " frames; its pieces hold " << cutFrame;
  }
  return ::testing::AssertionSuccess();
}

// A decided cut: segments sorted, none empty, each starting where the one before ended, from 0
// to the source's end, and sound on the frame grid.
inline ::testing::AssertionResult isSoundCut(const CutList& cut, const SourceMedia& source) {
  constexpr double slack = 1e-9;
  if (cut.segments.empty()) return ::testing::AssertionFailure() << "no segments";
  double at = 0;
  for (std::size_t i = 0; i < cut.segments.size(); ++i) {
    const TimeRange& r = cut.segments[i].range;
    if (std::abs(r.start - at) > slack) {
      return ::testing::AssertionFailure() << "segment " << i << " starts at " << r.start
                                           << ", not at " << at << " where the cut had reached";
    }
    if (!(r.end > r.start)) {
      return ::testing::AssertionFailure() << "segment " << i << " is empty at " << r.start;
    }
    at = r.end;
  }
  if (std::abs(at - source.durationSeconds) > slack) {
    return ::testing::AssertionFailure()
           << "the cut ends at " << at << ", the source at " << source.durationSeconds;
  }
  return framesAreSound(cut, source);
}

// A source of `seconds` on the grid of `frameSeconds`, for tests that have only those.
inline SourceMedia sourceOf(double seconds, double frameSeconds) {
  SourceMedia s;
  s.durationSeconds = seconds;
  s.frameDuration = RationalTime::standardFrameDuration(1.0 / frameSeconds);
  return s;
}

}  // namespace kestrane::test
