#include "kestrane/export/FrameSnapping.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace kestrane;
using FrameSnapping::frameIndex;
using Rounding = RationalTime::FrameRounding;

namespace {

const RationalTime fps25{1, 25};
const RationalTime ntsc30{1001, 30000};

CutList cut(std::initializer_list<std::pair<SegmentKind, TimeRange>> parts) {
  CutList list;
  for (const auto& [kind, range] : parts) list.segments.push_back(Segment{range, kind, {}, {}});
  return list;
}

}  // namespace

TEST(FrameSnapping, FrameBoundariesSurviveBinaryRoundingError) {
  // 1.16 * 25 is 28.999999999999996 in doubles.
  EXPECT_EQ(frameIndex(1.16, fps25, Rounding::down), 29);
  EXPECT_EQ(frameIndex(1.16, fps25, Rounding::up), 29);
  EXPECT_EQ(frameIndex(0.3, RationalTime{1, 30}, Rounding::up), 9);
  EXPECT_EQ(frameIndex(1.161, fps25, Rounding::down), 29);
  EXPECT_EQ(frameIndex(1.161, fps25, Rounding::up), 30);
  EXPECT_EQ(frameIndex(1.0, ntsc30, Rounding::down), 29);
  EXPECT_EQ(frameIndex(1.234, ntsc30, Rounding::down), 36);
  EXPECT_EQ(frameIndex(5.678, ntsc30, Rounding::up), 171);
  EXPECT_EQ(frameIndex(-0.02, fps25, Rounding::down), -1);
  EXPECT_EQ(FrameSnapping::snapped(1.234, ntsc30, Rounding::down), (RationalTime{36 * 1001, 30000}));

  EXPECT_THROW(frameIndex(1.0, RationalTime{0, 25}, Rounding::down), RationalTimeError);
  EXPECT_THROW(frameIndex(std::numeric_limits<double>::infinity(), fps25, Rounding::up),
               RationalTimeError);
  EXPECT_THROW(FrameSnapping::frames(std::numeric_limits<std::int64_t>::max() / 2, RationalTime{1001, 30000}),
               RationalTimeError);
}

TEST(FrameSnapping, LaysPiecesBackToBackWidenedToWholeFrames) {
  const auto layout = FrameSnapping::layout(cut({{SegmentKind::keep, {0.0, 2.0}},
                                                 {SegmentKind::silence, {2.0, 5.0}},
                                                 {SegmentKind::keep, {5.01, 8.0}},
                                                 {SegmentKind::keep, {8.0, 8.0}}}),
                                            fps25);
  ASSERT_EQ(layout.pieces.size(), 2u);
  EXPECT_EQ(layout.pieces[0].sourceStartFrame, 0);
  EXPECT_EQ(layout.pieces[0].sourceEndFrame, 50);
  EXPECT_EQ(layout.pieces[1].segmentIndex, 2u);
  EXPECT_EQ(layout.pieces[1].sourceStartFrame, 125);
  EXPECT_EQ(layout.pieces[1].sourceEndFrame, 200);
  EXPECT_EQ(layout.pieces[1].cutStartFrame, 50);
  EXPECT_EQ(layout.totalFrames, 125);
  EXPECT_DOUBLE_EQ(layout.totalSeconds(), 5.0);

  // Array order, not source order.
  const auto swapped = FrameSnapping::layout(
      cut({{SegmentKind::keep, {5.0, 6.0}}, {SegmentKind::keep, {0.0, 1.0}}}), fps25);
  ASSERT_EQ(swapped.pieces.size(), 2u);
  EXPECT_EQ(swapped.pieces[0].sourceStartFrame, 125);
  EXPECT_EQ(swapped.pieces[1].sourceStartFrame, 0);
  EXPECT_EQ(swapped.pieces[1].cutStartFrame, 25);

  // Never past the source's last frame: its length rounded to a frame, halves to even.
  EXPECT_EQ(FrameSnapping::sourceFrameCount(10.0, ntsc30), 300);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(10.01, fps25), 250);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(12.34, fps25), 308);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(12.38, fps25), 310);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(1.16, fps25), 29);
  EXPECT_EQ(FrameSnapping::sourceFrameCount(0.0, fps25), 0);
  SourceMedia source;
  source.durationSeconds = 10.01;
  source.frameDuration = fps25;
  const auto limited = FrameSnapping::layout(
      source, cut({{SegmentKind::keep, {0.0, 5.0}}, {SegmentKind::keep, {9.0, 10.01}}}));
  EXPECT_EQ(limited.pieces[1].sourceEndFrame, 250);
  source.durationSeconds = 0;  // unknown length: no limit
  EXPECT_EQ(FrameSnapping::layout(source, cut({{SegmentKind::keep, {9.0, 10.01}}})).totalFrames, 26);
}

TEST(FrameSnapping, JoinsCloserThanAFrameShareOneBoundary) {
  // Touching inside frame 25, and a sub-frame filler between two kept stretches: the second
  // piece starts where the first ended, so no frame plays twice.
  for (double secondStart : {1.01, 1.03}) {
    const auto layout = FrameSnapping::layout(cut({{SegmentKind::keep, {0.0, 1.01}},
                                                   {SegmentKind::filler, {1.01, secondStart}},
                                                   {SegmentKind::keep, {secondStart, 2.0}}}),
                                              fps25);
    ASSERT_EQ(layout.pieces.size(), 2u);
    EXPECT_EQ(layout.pieces[0].sourceEndFrame, 26);
    EXPECT_EQ(layout.pieces[1].sourceStartFrame, 26);
    EXPECT_EQ(layout.totalFrames, 50);
  }

  // A kept sliver inside an already played frame is dropped, and the next join still holds.
  const auto absorbed = FrameSnapping::layout(cut({{SegmentKind::keep, {0.0, 1.01}},
                                                   {SegmentKind::keep, {1.015, 1.03}},
                                                   {SegmentKind::keep, {1.035, 2.0}}}),
                                              fps25);
  ASSERT_EQ(absorbed.pieces.size(), 2u);
  EXPECT_EQ(absorbed.pieces[1].sourceStartFrame, 26);
  EXPECT_EQ(absorbed.totalFrames, 50);
  EXPECT_DOUBLE_EQ(absorbed.cutSeconds(1.02), 1.04);  // inside the dropped sliver

  // A real cut (a gap of a frame or more) still repeats the frame it falls in, on both sides.
  const auto realCut = FrameSnapping::layout(
      cut({{SegmentKind::keep, {0.0, 1.01}}, {SegmentKind::keep, {1.06, 2.0}}}), fps25);
  EXPECT_EQ(realCut.pieces[1].sourceStartFrame, 26);
  const auto wideCut = FrameSnapping::layout(
      cut({{SegmentKind::keep, {0.0, 1.01}}, {SegmentKind::keep, {1.5, 2.0}}}), fps25);
  EXPECT_EQ(wideCut.pieces[1].sourceStartFrame, 37);
}

TEST(FrameSnapping, PlainCutTimesFollowTheirSourceThroughManyPieces) {
  // 150 kept pieces at 29.97 fps whose edges fall between frames: the snapped cut runs seconds
  // longer than the plain one, and every re-timed instant still plays its own source time.
  CutList list;
  for (int i = 0; i < 150; ++i) {
    const double start = i * 2.0 + 0.013;
    list.segments.push_back(Segment{{start, start + 1.0123}, SegmentKind::keep, {}, {}});
    list.segments.push_back(Segment{{start + 1.0123, start + 2.0}, SegmentKind::silence, {}, {}});
  }
  const auto layout = FrameSnapping::layout(list, ntsc30);
  ASSERT_EQ(layout.pieces.size(), 150u);
  EXPECT_GT(layout.totalSeconds() - layout.plainTotal, 4.0);

  double previous = -1;
  for (std::size_t i = 0; i < 150; ++i) {
    const FrameSnapping::Layout& l = layout;
    const double plainStart = l.spans[i].plainStart;
    for (double into : {0.0, 0.4, 1.0}) {
      const double mapped = l.cutSeconds(plainStart + into);
      const auto& piece = l.pieces[i];
      const double pieceCutStart = FrameSnapping::seconds(piece.cutStartFrame, ntsc30);
      const double sourcePlayed =
          FrameSnapping::seconds(piece.sourceStartFrame, ntsc30) + (mapped - pieceCutStart);
      if (into < 1.0) {
        EXPECT_NEAR(sourcePlayed, piece.range.start + into, 1e-9) << i;
      }
      EXPECT_GE(mapped, previous);
      previous = mapped;
    }
  }
  EXPECT_NEAR(layout.cutSeconds(layout.plainTotal), layout.totalSeconds() - 0.0, 2 * 1001.0 / 30000);
  EXPECT_NEAR(layout.cutSeconds(layout.plainTotal + 1.0), layout.totalSeconds() + 1.0, 1e-9);
  // The first word plays where its source time falls in the first whole frame.
  EXPECT_NEAR(layout.cutSeconds(0.0), 0.013, 1e-12);
}
