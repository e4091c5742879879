#include <gtest/gtest.h>

#include "kestrane/pipeline/Pipeline.hpp"

using namespace kestrane;

namespace {
Advisory note(double s, double e, std::string text) { return {{s, e}, std::move(text)}; }
}  // namespace

TEST(EditorNotes, MergeDropsOverlapsAndSortsStably) {
  auto merged = Pipeline::mergeEditorNotes({note(10, 12, "old")},
                                           {note(11, 13, "clash"), note(12, 14, "touches")});
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0].note, "old");
  EXPECT_EQ(merged[1].note, "touches");

  // A later new note is checked against earlier new notes too.
  merged = Pipeline::mergeEditorNotes({}, {note(5, 6, "A"), note(5, 7, "B")});
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0].note, "A");

  merged = Pipeline::mergeEditorNotes({note(9, 9.5, "late"), note(3, 3.5, "first")},
                                      {note(3, 3, "empty range keeps its place")});
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(merged[0].note, "first");
  EXPECT_EQ(merged[1].note, "empty range keeps its place");
  EXPECT_EQ(merged[2].note, "late");
}

TEST(DeterministicTail, HandEditsWinAndBothListsKeep) {
  const std::vector<TranscriptWord> words{{"one", {1.0, 1.4}}, {"two", {1.5, 1.9}},
                                          {"three", {6.0, 6.5}}, {"four", {6.6, 7.0}}};
  const std::vector<SilenceSpan> silences{{{2.0, 5.8}, -70}};
  PipelineSettings settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  settings.thoroughness = Thoroughness::fast;

  const CutList automatic = Pipeline::deterministicTail(8, 0.04, silences, silences, {}, words,
                                                        std::nullopt, settings, {}, {});
  ASSERT_FALSE(automatic.segments.empty());
  EXPECT_DOUBLE_EQ(automatic.segments.front().range.start, 0);
  EXPECT_DOUBLE_EQ(automatic.segments.back().range.end, 8);
  EXPECT_LT(automatic.keptDuration(), 8 - 3);  // the long pause is cut

  // 3–4 s lies in both hand lists: it is kept, restored by hand.
  const CutList edited = Pipeline::deterministicTail(8, 0.04, silences, silences, {}, words,
                                                     std::nullopt, settings, {{3, 4}}, {{3, 4}, {1.0, 1.4}});
  bool restored = false, removed = false;
  for (const Segment& s : edited.segments) {
    if (s.kind == SegmentKind::keep && s.range.start <= 3.0 && s.range.end >= 4.0)
      restored = s.reason == std::optional<std::string>("restored by hand on the waveform");
    if (s.kind == SegmentKind::manual && s.range.overlaps({1.0, 1.4})) removed = true;
  }
  EXPECT_TRUE(restored);
  EXPECT_TRUE(removed);
}
