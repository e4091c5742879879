#include "kestrane/model/CutFigures.hpp"

#include <gtest/gtest.h>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/export/TranscriptExporter.hpp"

namespace kestrane {
namespace {

Segment segment(double start, double end, SegmentKind kind) {
  Segment s;
  s.range = {start, end};
  s.kind = kind;
  return s;
}

TranscriptWord word(std::string text, double start, double end) { return {std::move(text), {start, end}}; }

TEST(CutFigures, CountsEveryRemovalKindAndSumsOnlyTheKeptSpans) {
  KestraneSession session;
  session.source.durationSeconds = 20;
  CutList cut;
  cut.segments = {segment(0, 2, SegmentKind::silence),
                  segment(2, 6, SegmentKind::keep),
                  segment(6, 7, SegmentKind::flub),
                  segment(7, 9, SegmentKind::retakeRejected),
                  segment(9, 10, SegmentKind::retakeRejected),
                  segment(10, 14.5, SegmentKind::keep),
                  segment(14.5, 15, SegmentKind::filler),
                  segment(15, 16, SegmentKind::manual),
                  segment(16, 17, SegmentKind::silence),
                  segment(17, 20, SegmentKind::keep)};
  session.cutList = cut;

  const CutFigures f = cutFigures(session);
  EXPECT_DOUBLE_EQ(f.source, 20);
  EXPECT_DOUBLE_EQ(f.kept, 11.5);
  EXPECT_EQ(f.silences, 2);
  EXPECT_EQ(f.flubs, 1);
  EXPECT_EQ(f.retakes, 2);
  EXPECT_EQ(f.fillers, 1);
  EXPECT_EQ(f.manual, 1);
}

TEST(CutFigures, ASessionWithoutACutHasOnlyItsFootageLength) {
  KestraneSession session;
  session.source.durationSeconds = 61.5;
  const CutFigures f = cutFigures(session);
  EXPECT_DOUBLE_EQ(f.source, 61.5);
  EXPECT_EQ(f.kept, 0);
  EXPECT_EQ(f.silences + f.flubs + f.retakes + f.fillers + f.manual, 0);
}

TEST(CutFigures, AFillerTheCutOnlyClipsIsNeitherCountedNorDropped) {
  // "uh" follows "early," after 0.09 s: the word's tail release moves the filler's cut to 5.00,
  // so 0.14 s of its 0.18 s stays and the 40 ms cut removes no word. "Um" after a pause goes
  // whole.
  Transcript transcript;
  transcript.words = {word("Water", 3.6, 3.95),  word("the", 3.95, 4.05), word("beds", 4.05, 4.4),
                      word("early,", 4.4, 4.77), word("uh", 4.86, 5.04),  word("before", 5.2, 5.5),
                      word("it", 5.5, 5.6),      word("is", 5.6, 5.7),    word("hot.", 5.7, 6.1),
                      word("Um", 8.0, 8.3),      word("It", 8.5, 8.6),    word("helps.", 8.6, 9.1)};
  KestraneSession session;
  session.settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  session.source.path = "/footage/garden.mp4";
  session.source.durationSeconds = 10;
  session.source.frameDuration = {1, 25};
  const auto decision = TakeSelector::fillersOnly(transcript, session.settings);
  EditPlanner::CutMaterial material;
  material.sourceDuration = 10;
  material.frameDuration = 1.0 / 25;
  material.removals = decision.removals;
  material.words = transcript.words;
  material.settings = session.settings;
  const CutList cut = EditPlanner::planCut(material);

  std::vector<Segment> fillers;
  for (const Segment& s : cut.segments) {
    if (s.kind == SegmentKind::filler) fillers.push_back(s);
  }
  ASSERT_EQ(fillers.size(), 2u);
  EXPECT_NEAR(fillers[0].range.start, 5.00, 1e-9);
  EXPECT_NEAR(fillers[0].range.end, 5.04, 1e-9);
  EXPECT_EQ(fillers[0].reason, "\u201cuh\u201d");
  EXPECT_NEAR(fillers[1].range.start, 8.0, 1e-9);

  session.transcript = transcript;
  session.cutList = cut;
  const CutFigures f = cutFigures(session);
  EXPECT_EQ(f.fillers, 1);
  EXPECT_EQ(removedCounts(f)[3], "1 filler");

  const std::string md = TranscriptExporter::markdown(session.source, transcript, cut, {});
  EXPECT_NE(md.find("0 alternate takes, 1 filler)\n"), std::string::npos) << md;
  EXPECT_NE(md.find("early, uh before"), std::string::npos) << md;
  EXPECT_EQ(md.find("Um"), std::string::npos) << md;

  // Likewise for the other removals of words: the flub takes "the" out and counts, the
  // alternate take only clips "beds" and "early," and does not; a span over no word counts.
  CutList clips{{segment(0, 3.9, SegmentKind::keep), segment(3.9, 4.1, SegmentKind::flub),
                 segment(4.1, 4.42, SegmentKind::keep), segment(4.42, 4.5, SegmentKind::retakeRejected),
                 segment(4.5, 6.5, SegmentKind::keep), segment(6.5, 6.7, SegmentKind::retakeRejected),
                 segment(6.7, 10, SegmentKind::keep)}};
  const CutFigures g = cutFigures(10, clips, transcript.words);
  EXPECT_EQ(g.flubs, 1);
  EXPECT_EQ(g.retakes, 1);

  // What decides is the middle of the word the span cuts into, not where the word starts: one
  // over the start of "uh" but short of its middle only clips it, one from after the start of
  // "Um" past its middle takes it.
  const CutList overStart{{segment(0, 4.8, SegmentKind::keep), segment(4.8, 4.9, SegmentKind::filler),
                           segment(4.9, 10, SegmentKind::keep)}};
  EXPECT_EQ(cutFigures(10, overStart, transcript.words).fillers, 0);
  const CutList overMiddle{{segment(0, 8.1, SegmentKind::keep), segment(8.1, 8.4, SegmentKind::filler),
                            segment(8.4, 10, SegmentKind::keep)}};
  EXPECT_EQ(cutFigures(10, overMiddle, transcript.words).fillers, 1);
}

}  // namespace
}  // namespace kestrane
