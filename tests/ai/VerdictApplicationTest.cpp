#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"
#include "kestrane/ai/Adjudicator.hpp"

namespace kestrane {
namespace {

using namespace Adjudicator;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::utterance;

const std::string kScript =
    "Welcome to the show, today we talk about bread. First you mix the flour and the water "
    "together. Then you let the dough rest for an hour. Thanks for watching and see you next time.";

// Six kept lines of five seconds, and one cut retake of line 4 (index 6) after them.
struct Fixture {
  std::vector<TakeSelector::Utterance> kept = {
      utterance(0, "Welcome to the show, today we talk about bread.", 0, 5),
      utterance(1, "okay can you say that again a bit slower", 5, 10),
      utterance(2, "First you mix the flour and the water together.", 10, 15),
      utterance(3, "So first you mix the flour with water together.", 15, 20),
      utterance(4, "Then you let the dough rest for an hour.", 20, 25),
      utterance(5, "Thanks for watching and see you next time.", 25, 30),
  };
  std::vector<TakeSelector::Utterance> all;
  TakeSelector::Decision decision;

  Fixture() {
    all = kept;
    all.push_back(utterance(6, "Then you let the dough rest for one hour.", 31, 36));
    decision.removals = {{{31, 36}, SegmentKind::retakeRejected, "retake", 7}};
    decision.takeGroups = {{7, {20, 25}, std::vector<TimeRange>{{31, 36}}}};
  }

  Outcome run(const std::string& json, bool script = true) const {
    return apply(parse(json), kept, all, decision, script ? std::optional(kScript) : std::nullopt);
  }
};

std::string cut(int index, const std::string& category, double confidence, std::string extra = "") {
  return "{\"index\":" + std::to_string(index) + ",\"category\":\"" + category +
         "\",\"reason\":\"because\",\"confidence\":" + std::to_string(confidence) + extra + "}";
}

std::string cuts(const std::vector<std::string>& rows, const std::string& more = "") {
  std::string list;
  for (const auto& r : rows) list += (list.empty() ? "" : ",") + r;
  return "{\"cuts\":[" + list + "]" + more + "}";
}

std::vector<double> removedStarts(const Outcome& o) {
  std::vector<double> starts;
  for (const Segment& s : o.removals) starts.push_back(s.range.start);
  return starts;
}

TEST(VerdictApplication, NeverCutsTooMuchEvenThroughEditorNotes) {
  Fixture f;
  std::vector<std::string> all;
  for (int i = 0; i < 6; ++i) all.push_back(cut(i, "offCameraSpeaker", 0.9));
  try {
    f.run(cuts(all), false);
    FAIL();
  } catch (const AdjudicationError& e) {
    EXPECT_STREQ(e.what(), "verdict rejected — it would leave 0.0s (floor 10.0s)");
  }
  // Spoken notes on every line would empty the cut just the same.
  std::string notes;
  for (int i = 0; i < 6; ++i) {
    notes += (notes.empty() ? "" : ",") +
             std::string("{\"kind\":\"editorNote\",\"detail\":\"use take two\",\"index\":") + std::to_string(i) +
             ",\"remedy\":{\"action\":\"none\"}}";
  }
  EXPECT_THROW(f.run(cuts({}, ",\"findings\":[" + notes + "]"), false), AdjudicationError);

  // With a script, a note on the only rendition of a script line stays a note and warns.
  const auto o = f.run(cuts({}, R"(,"findings":[{"kind":"editorNote","detail":"fix the colour here","index":4},
      {"kind":"editorNote","detail":"use the first take","index":1}])"));
  EXPECT_THAT(removedStarts(o), ElementsAre(5));
  EXPECT_EQ(o.appliedCuts, 1);
  ASSERT_EQ(o.editorNotes.size(), 2u);
  EXPECT_EQ(o.editorNotes[0].note, "fix the colour here");
  EXPECT_THAT(o.warnings, ElementsAre("AI wanted to cut a spoken note at 0:20.00 — it is the only "
                                      "rendition of a script line; kept it as a note"));
  EXPECT_EQ(o.removals[0].reason, "AI: spoken note to your editor — use the first take");
}

TEST(VerdictApplication, DuplicatesKeepALivingSurvivor) {
  Fixture f;
  // Mutual survivors, and a cycle of three: all dropped.
  auto o = f.run(cuts(
      {cut(2, "paraphraseDuplicate", 0.9, ",\"survivor\":3"), cut(3, "paraphraseDuplicate", 0.9, ",\"survivor\":2")}));
  EXPECT_TRUE(o.removals.empty());
  o = f.run(cuts({cut(0, "paraphraseDuplicate", 0.9, ",\"survivor\":2"),
                  cut(2, "paraphraseDuplicate", 0.9, ",\"survivor\":3"),
                  cut(3, "paraphraseDuplicate", 0.9, ",\"survivor\":0")}));
  EXPECT_TRUE(o.removals.empty());
  // A survivor that is itself cut: both renditions stay.
  o = f.run(cuts({cut(3, "offCameraSpeaker", 0.9), cut(2, "paraphraseDuplicate", 0.9, ",\"survivor\":3")}));
  EXPECT_THAT(removedStarts(o), ElementsAre(15));
  // A chain ends at its last kept line, which gets the review note.
  o = f.run(cuts({cut(2, "paraphraseDuplicate", 0.9, ",\"survivor\":3"),
                  cut(3, "paraphraseDuplicate", 0.9, ",\"survivor\":0")}),
            false);
  EXPECT_THAT(removedStarts(o), ElementsAre(10, 15));
  EXPECT_EQ(o.removals[0].kind, SegmentKind::retakeRejected);
  EXPECT_EQ(o.advisories[0].range.start, 0);
  EXPECT_EQ(o.advisories[0].note, "AI: kept this rendition — near-duplicate at 0:10.00 was removed; review");
  // No survivor named: dropped.
  EXPECT_TRUE(f.run(cuts({cut(2, "paraphraseDuplicate", 0.9)})).removals.empty());
}

TEST(VerdictApplication, ScreensConfidenceScriptLinesAndUnknownRows) {
  Fixture f;
  // A low-confidence row leaves a note and does not stop a later confident row.
  auto o = f.run(cuts({cut(1, "offCameraSpeaker", 0.3),
                       R"({"index":1,"category":"offCameraSpeaker","reason":" crew\u0007 talk\r\n"})",
                       cut(1, "offCameraSpeaker", 0.8), cut(1, "offScript", 0.9), cut(99, "offScript", 0.9)}));
  EXPECT_THAT(removedStarts(o), ElementsAre(5));
  EXPECT_EQ(o.removals[0].kind, SegmentKind::flub);
  EXPECT_EQ(o.removals[0].reason, "AI: because");
  ASSERT_EQ(o.advisories.size(), 2u);
  EXPECT_EQ(o.advisories[1].note, "AI: crew talk — low confidence, kept; review");

  // The only rendition of a script line is never cut as off-script; a line with a twin is.
  o = f.run(cuts({cut(4, "offScript", 0.9), cut(3, "offScript", 0.9)}));
  EXPECT_THAT(removedStarts(o), ElementsAre(15));
  EXPECT_THAT(o.warnings, ElementsAre("AI wanted to cut the only rendition of a script line at 0:20.00 — kept it"));
  // Whatever the model files the cut under, cut row or remedy, the only rendition stays.
  o = f.run(cuts({cut(4, "offCameraSpeaker", 0.9), cut(5, "tangent", 0.9)},
                 R"(,"findings":[{"kind":"crewTalk","detail":"to the crew","index":0,"remedy":{"action":"cut"}}])"));
  EXPECT_TRUE(o.removals.empty());
  EXPECT_THAT(o.warnings, ElementsAre("AI wanted to cut the only rendition of a script line at 0:20.00 — kept it",
                                      "AI wanted to cut the only rendition of a script line at 0:25.00 — kept it",
                                      "AI wanted to cut the only rendition of a script line at 0:00.00 — kept it"));
  // Of two renditions both filed as duplicates, the first to be checked stays.
  o = f.run(cuts(
      {cut(2, "paraphraseDuplicate", 0.9, ",\"survivor\":3"), cut(3, "paraphraseDuplicate", 0.9, ",\"survivor\":0")}));
  EXPECT_THAT(removedStarts(o), ElementsAre(15));
  EXPECT_THAT(o.warnings, ElementsAre("AI wanted to cut the only rendition of a script line at 0:10.00 — kept it"));
  // Without a script, off-script rows are dropped silently.
  o = f.run(cuts({cut(1, "offScript", 0.9)}), false);
  EXPECT_TRUE(o.removals.empty() && o.warnings.empty());
}

TEST(VerdictApplication, RestoresAndSwapsOnlyWhatTheyMayBringBack) {
  Fixture f;
  auto restore = [](int index, int replaces, double confidence) {
    return ",\"restores\":[{\"index\":" + std::to_string(index) + ",\"replaces\":" + std::to_string(replaces) +
           ",\"reason\":\"run\",\"confidence\":" + std::to_string(confidence) + "}]";
  };
  for (const std::string& bad :
       {restore(6, 4, 0.4), restore(42, 4, 0.9), restore(6, 99, 0.9), restore(6, 0, 0.9), restore(4, 2, 0.9)}) {
    const auto o = f.run(cuts({}, bad));
    EXPECT_EQ(o.appliedRestores, 0) << bad;
    EXPECT_TRUE(o.restoredRanges.empty()) << bad;
  }
  auto o = f.run(cuts({}, restore(6, 4, 0.9)));
  EXPECT_EQ(o.appliedRestores, 1);
  EXPECT_THAT(o.restoredRanges, ElementsAre(TimeRange{31, 36}));
  EXPECT_EQ(o.removals.at(0).reason, "AI: run — restored the run's own take at 0:31.00");
  EXPECT_EQ(o.advisories.at(0).note,
            "AI: restored this take to keep the run together — the rendition at 0:20.00 was cut in its place; review");

  auto swap = [](int group, int alternate) {
    return ",\"swaps\":[{\"group\":" + std::to_string(group) + ",\"alternate\":" + std::to_string(alternate) +
           ",\"reason\":\"cleaner\",\"confidence\":0.9}]";
  };
  for (const std::string& bad : {swap(7, 0), swap(7, 2), swap(8, 1)}) {
    EXPECT_EQ(f.run(cuts({}, bad)).appliedSwaps, 0) << bad;
  }
  o = f.run(cuts({}, swap(7, 1)));
  EXPECT_EQ(o.appliedSwaps, 1);
  EXPECT_EQ(o.removals.at(0).takeGroup, 7);
  EXPECT_EQ(o.removals.at(0).reason, "AI: cleaner — swapped for the take at 0:31.00");
  ASSERT_TRUE(o.updatedTakeGroups);
  EXPECT_EQ(o.updatedTakeGroups->at(0).winnerRange, (TimeRange{31, 36}));
  EXPECT_FALSE(o.updatedTakeGroups->at(0).alternateRanges);
}

std::string restoreRows(const std::vector<std::pair<int, int>>& rows) {
  std::string list;
  for (const auto& [index, replaces] : rows) {
    list += (list.empty() ? "" : ",") + std::string("{\"index\":") + std::to_string(index) +
            ",\"replaces\":" + std::to_string(replaces) + ",\"reason\":\"run\",\"confidence\":0.9}";
  }
  return ",\"restores\":[" + list + "]";
}

TEST(VerdictApplication, EachRestoreMeetsTheCutAsTheGuardsLeaveIt) {
  // A cut of line 4 that the script guard refuses leaves line 4 in the cut, so its retake (6)
  // may not come back in place of line 5, which only opens the same way.
  Fixture f;
  f.kept[5] = utterance(5, "Then you let the bread cool down on a rack.", 25, 30);
  f.all[5] = f.kept[5];
  auto o = f.run(cuts({cut(4, "offScript", 0.9)}, restoreRows({{6, 5}})));
  EXPECT_EQ(o.appliedRestores, 0);
  EXPECT_TRUE(o.restoredRanges.empty());
  EXPECT_THAT(
      o.warnings,
      ElementsAre(
          "AI wanted to cut the only rendition of a script line at 0:20.00 — kept it",
          "AI wanted to restore the take at 0:31.00 — another rendition of it is already in the cut; left it out"));

  // Two restored takes that resemble each other do not stand in each other's way: only kept
  // lines that stay count as renditions already in the cut.
  Fixture g;
  g.kept[5] = utterance(5, "You bake it in a hot oven.", 25, 30);
  g.all[5] = g.kept[5];
  g.all.push_back(utterance(7, "Then you let the dough rest for one hour and then you bake it in a hot oven.", 37, 44));
  g.decision.removals.push_back({{37, 44}, SegmentKind::retakeRejected, "retake", std::nullopt});
  o = g.run(cuts({}, restoreRows({{6, 4}, {7, 5}})), false);
  EXPECT_TRUE(o.warnings.empty()) << o.warnings.front();
  EXPECT_EQ(o.appliedRestores, 2);
  EXPECT_THAT(o.restoredRanges, ElementsAre(TimeRange{31, 36}, TimeRange{37, 44}));
  EXPECT_THAT(removedStarts(o), ElementsAre(20, 25));
}

TEST(VerdictApplication, ASpokenNoteNeverTakesTheLastRenditionOfALine) {
  Fixture f;
  // Line 3 goes as a duplicate of line 2; the note spoken on line 2 stays a note. Without a
  // script no other guard stands between the note and the line.
  const auto o = f.run(cuts({cut(3, "paraphraseDuplicate", 0.9, ",\"survivor\":2")},
                            R"(,"findings":[{"kind":"editorNote","detail":"use the wide shot here","index":2}])"),
                       false);
  EXPECT_THAT(removedStarts(o), ElementsAre(15));
  EXPECT_EQ(o.appliedCuts, 1);
  ASSERT_EQ(o.editorNotes.size(), 1u);
  EXPECT_EQ(o.editorNotes[0].range.start, 10);
  EXPECT_THAT(
      o.warnings,
      ElementsAre("AI wanted to cut a spoken note at 0:10.00 — its line's other rendition is cut; kept it as a note"));
  EXPECT_EQ(o.advisories.at(0).note, "AI: kept this rendition — near-duplicate at 0:15.00 was removed; review");
}

TEST(VerdictApplication, FindingsBecomeRemediesOrNotes) {
  Fixture f;
  const auto o = f.run(cuts({}, R"(,"findings":[
      {"kind":"crewTalk","detail":"Line to the crew.","index":1,"remedy":{"action":"cut"}},
      {"kind":"order","detail":"Out of order\u001b at 0:20.","index":4,"remedy":{"action":"none"}},
      {"kind":"novel","detail":"  ","index":0},
      {"kind":"redundant","detail":"Said twice.","index":3,"remedy":{"action":"cut"}}])"));
  EXPECT_EQ(o.appliedRemedies, 1);
  EXPECT_THAT(removedStarts(o), ElementsAre(5));
  ASSERT_EQ(o.coherenceFindings.size(), 2u);
  EXPECT_EQ(o.coherenceFindings[0].detail, "Out of order at 0:20.");
  EXPECT_EQ(o.coherenceFindings[0].label(), "out of order");
  EXPECT_EQ(o.coherenceFindings[0].range, (TimeRange{20, 25}));
  EXPECT_EQ(o.coherenceFindings[1].label(), "repeated content");

  // A line inside a filler removal is still kept; one inside a silence removal is not.
  const std::vector<Segment> removals = {
      {{7, 8}, SegmentKind::filler}, {{12, 13}, SegmentKind::silence}, {{0, 30}, SegmentKind::keep}};
  const auto kept = keptUtterances(f.kept, removals);
  ASSERT_EQ(kept.size(), 5u);
  EXPECT_EQ(kept[2].index, 3);

  EXPECT_EQ(remedyCategory(" crewTalk\n", std::nullopt), "offCameraSpeaker");
  EXPECT_EQ(remedyCategory("runMix", 3), "paraphraseDuplicate");
  EXPECT_EQ(remedyCategory("runMix", std::nullopt), std::nullopt);
  EXPECT_EQ(remedyCategory("scriptGap", 3), std::nullopt);
  EXPECT_EQ(timestamp(75.5), "1:15.50");
  // Rounding that carries into the next minute reads as that minute, never as second 60.
  EXPECT_EQ(timestamp(59.999), "1:00.00");
  EXPECT_EQ(timestamp(3599.996), "60:00.00");
  EXPECT_EQ(timestamp(61.004), "1:01.00");
  EXPECT_EQ(cleanReason(" \n"), "adjudicated cut");
  EXPECT_EQ(cleanReason(std::string(300, 'a')).size(), 200u);
}

}  // namespace
}  // namespace kestrane
