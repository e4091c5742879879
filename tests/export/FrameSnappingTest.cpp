#include "kestrane/export/FrameSnapping.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace kestrane;
using FrameSnapping::frameIndex;
using Rounding = RationalTime::FrameRounding;

namespace {

const RationalTime fps25{1, 25};
const RationalTime ntsc30{1001, 30000};

Segment keep(double start, double end) { return Segment{{start, end}, SegmentKind::keep, {}, {}}; }

}  // namespace

TEST(FrameSnapping, CountsFramesExactlyOnBoundaries) {
  // 1.16 * 25 is 28.999999999999996 in doubles.
  EXPECT_EQ(frameIndex(1.16, fps25, Rounding::down), 29);
  EXPECT_EQ(frameIndex(1.16, fps25, Rounding::up), 29);
  EXPECT_EQ(frameIndex(1.161, fps25, Rounding::up), 30);
  EXPECT_EQ(frameIndex(1.0, ntsc30, Rounding::down), 29);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(10.0, ntsc30), 300);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(12.34, fps25), 308);  // 308.5, halves to even
  EXPECT_EQ(FrameSnapping::sourceFrameCount(12.38, fps25), 310);

  EXPECT_THROW(frameIndex(1.0, RationalTime{0, 25}, Rounding::down), RationalTimeError);
  EXPECT_THROW(frameIndex(std::numeric_limits<double>::infinity(), fps25, Rounding::up), RationalTimeError);
  EXPECT_THROW(FrameSnapping::frames(std::numeric_limits<std::int64_t>::max() / 2, ntsc30), RationalTimeError);
}

TEST(FrameSnapping, SliversInsidePlayedFramesAreDroppedAndJoinsHold) {
  const auto layout = FrameSnapping::layout(CutList{{keep(0.0, 1.01), keep(1.015, 1.03), keep(1.035, 2.0)}}, fps25);
  ASSERT_EQ(layout.pieces.size(), 2u);
  EXPECT_EQ(layout.pieces[1].sourceStartFrame, 26);
  EXPECT_EQ(layout.totalFrames, 50);
  EXPECT_DOUBLE_EQ(layout.cutSeconds(1.02), 1.04);  // inside the dropped sliver

  // Unknown source length: no limit; a known one stops at its last frame.
  SourceMedia source;
  source.frameDuration = fps25;
  EXPECT_EQ(FrameSnapping::layout(source, CutList{{keep(9.0, 10.01)}}).totalFrames, 26);
  source.durationSeconds = 10.01;
  EXPECT_EQ(FrameSnapping::layout(source, CutList{{keep(9.0, 10.01)}}).totalFrames, 25);
}

TEST(FrameSnapping, PlainCutTimesFollowTheirSourceThroughManyPieces) {
  // 150 kept pieces at 29.97 fps whose edges fall between frames: the snapped cut runs seconds
  // longer than the plain one, and every re-timed instant still plays its own source time.
  CutList list;
  for (int i = 0; i < 150; ++i) {
    const double start = i * 2.0 + 0.013;
    list.segments.push_back(keep(start, start + 1.0123));
    list.segments.push_back(Segment{{start + 1.0123, start + 2.0}, SegmentKind::silence, {}, {}});
  }
  const auto layout = FrameSnapping::layout(list, ntsc30);
  ASSERT_EQ(layout.pieces.size(), 150u);
  EXPECT_GT(layout.totalSeconds() - layout.plainTotal, 4.0);

  double previous = -1;
  for (std::size_t i = 0; i < 150; ++i) {
    const auto& piece = layout.pieces[i];
    for (double into : {0.0, 0.4, 1.0}) {
      const double mapped = layout.cutSeconds(layout.spans[i].plainStart + into);
      const double played = FrameSnapping::seconds(piece.sourceStartFrame, ntsc30) +
                            (mapped - FrameSnapping::seconds(piece.cutStartFrame, ntsc30));
      if (into < 1.0) {
        EXPECT_NEAR(played, piece.range.start + into, 1e-9) << i;
      }
      EXPECT_GE(mapped, previous);
      previous = mapped;
    }
  }
  EXPECT_NEAR(layout.cutSeconds(layout.plainTotal + 1.0), layout.totalSeconds() + 1.0, 1e-9);
}
