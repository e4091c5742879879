#include <gtest/gtest.h>

#include "kestrane/pipeline/Pipeline.hpp"

using namespace kestrane;

namespace {
Advisory note(double s, double e, std::string text) { return {{s, e}, std::move(text)}; }
}  // namespace

TEST(EditorNotes, MergeDropsOverlapsAndSortsStably) {
  auto merged = Pipeline::mergeEditorNotes({note(10, 12, "old")}, {note(11, 13, "clash"), note(12, 14, "touches")});
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
