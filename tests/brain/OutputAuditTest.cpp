#include "kestrane/brain/OutputAudit.hpp"

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

using namespace kestrane;
using OutputAudit::Defect;
using Kind = OutputAudit::Defect::Kind;
using TakeSelector::Utterance;
using kestrane::testing::utterance;

namespace {

Transcript transcriptOf(const std::vector<Utterance>& utterances) {
  Transcript t;
  for (const auto& u : utterances) t.words.insert(t.words.end(), u.words.begin(), u.words.end());
  return t;
}

CutList keepAll(double end) { return CutList{{Segment{{0, end}, SegmentKind::keep}}}; }

// Keeps at the given ranges with silences between them.
CutList keeps(const std::vector<TimeRange>& ranges) {
  CutList list;
  double at = 0;
  for (const auto& r : ranges) {
    if (r.start > at) list.segments.push_back({{at, r.start}, SegmentKind::silence});
    list.segments.push_back({r, SegmentKind::keep});
    at = r.end;
  }
  return list;
}

std::vector<Defect> ofKind(const std::vector<Defect>& defects, Kind kind) {
  std::vector<Defect> found;
  for (const auto& d : defects)
    if (d.kind == kind) found.push_back(d);
  return found;
}

}  // namespace

namespace kestrane::OutputAudit {
void PrintTo(Defect::Kind kind, std::ostream* out) { *out << rawValue(kind); }
}  // namespace kestrane::OutputAudit

namespace {

std::vector<Kind> kinds(const std::vector<Defect>& defects) {
  std::vector<Kind> found;
  for (const auto& d : defects) found.push_back(d.kind);
  return found;
}

}  // namespace

TEST(OutputAudit, ScriptBeatsMissingOrDelivered) {
  std::vector<Utterance> us{
      utterance(0, "we ship the new demo today.", 0, 3), utterance(1, "alpha bravo zulu yankee.", 10, 12),
      utterance(2, "the third line is spoken twice.", 20, 23), utterance(3, "the third line is spoken twice.", 30, 33)};
  const std::string script =
      "We ship the new demo today.\nAlpha bravo charlie delta.\nThe third line is spoken twice.\nNobody saw this "
      "coming at all.";
  auto defects = OutputAudit::audit(us, transcriptOf(us), keepAll(40), script);
  // Beat defects in beat order, then the doubled line; a half-delivered beat is not missing.
  ASSERT_EQ(kinds(defects), (std::vector<Kind>{Kind::doubledBeat, Kind::missingBeat, Kind::doubledLine}));
  EXPECT_EQ(defects[0], (Defect{Kind::doubledBeat,
                                {30, 33},
                                "script beat delivered 2 times: “The third line is spoken twice” at 0:20, 0:30",
                                {2, 3}}));
  EXPECT_EQ(
      defects[1],
      (Defect{Kind::missingBeat, {0, 0}, "script beat not found in the cut: “Nobody saw this coming at all”", {}}));
  EXPECT_EQ(defects[2], (Defect{Kind::doubledLine,
                                {30, 33},
                                "same line kept twice: “the third line is spoken twice.…” at 0:20 and 0:30",
                                {2, 3}}));

  // A script that says its lines again reports each saying as it reports the first.
  auto repeated = OutputAudit::audit(us, transcriptOf(us), keepAll(40), script + "\n" + script + "\n" + script);
  ASSERT_EQ(kinds(repeated),
            (std::vector<Kind>{Kind::doubledBeat, Kind::missingBeat, Kind::doubledBeat, Kind::missingBeat,
                               Kind::doubledBeat, Kind::missingBeat, Kind::doubledLine}));
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(repeated[k], defects[k % 2]);

  // No keep at all: no checks run, not even the script's.
  EXPECT_TRUE(OutputAudit::audit(us, transcriptOf(us), CutList{{Segment{{0, 40}, SegmentKind::flub}}}, script).empty());
  // Nothing kept of a beat at all, with the display text cut to 90 characters.
  std::string longBeat(100, 'x');
  auto missing = OutputAudit::audit(us, transcriptOf(us), keeps({{0, 3}}), "so " + longBeat + " here");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].detail, "script beat not found in the cut: “so " + std::string(87, 'x') + "”");
}

TEST(OutputAudit, DoubledBeatNeedsOverlappingStretches) {
  const std::string script = "Red orange yellow green blue indigo violet black.";
  // Stretches 0..5 and 3..8 of the beat share only two tokens.
  std::vector<Utterance> apart{utterance(0, "red orange yellow green blue", 0, 3),
                               utterance(1, "green blue indigo violet black", 10, 13)};
  EXPECT_TRUE(ofKind(OutputAudit::audit(apart, transcriptOf(apart), keepAll(20), script), Kind::doubledBeat).empty());

  std::vector<Utterance> three{utterance(4, "red orange yellow green blue", 0, 3),
                               utterance(5, "orange yellow green blue indigo", 10, 13),
                               utterance(6, "yellow green blue indigo violet", 20, 23)};
  auto doubled = ofKind(OutputAudit::audit(three, transcriptOf(three), keepAll(30), script), Kind::doubledBeat);
  ASSERT_EQ(doubled.size(), 1u);
  EXPECT_EQ(doubled[0], (Defect{Kind::doubledBeat,
                                {20, 23},
                                "script beat delivered 3 times: “Red orange yellow green blue indigo violet black” at "
                                "0:00, 0:10, 0:20",
                                {4, 5, 6}}));

  // Two beats alike enough to be compared with each other are each checked on their own.
  auto twice = ofKind(OutputAudit::audit(three, transcriptOf(three), keepAll(30),
                                         script + "\nRed orange yellow green blue indigo violet white."),
                      Kind::doubledBeat);
  ASSERT_EQ(twice.size(), 2u);
  EXPECT_EQ(twice[1].utteranceIndices, (std::vector<int>{4, 5, 6}));
}

TEST(OutputAudit, DoubledLines) {
  std::vector<Utterance> us{utterance(0, "we ship the demo today.", 0, 2),
                            utterance(1, "we ship the demo today.", 50, 52),
                            utterance(2, "we ship the demo today.", 100, 102)};
  auto doubled = ofKind(OutputAudit::audit(us, transcriptOf(us), keepAll(110), std::nullopt), Kind::doubledLine);
  ASSERT_EQ(doubled.size(), 2u);
  EXPECT_EQ(doubled[0].utteranceIndices, (std::vector<int>{0, 1}));
  EXPECT_EQ(doubled[1].utteranceIndices, (std::vector<int>{0, 2}));  // the third is still reported against the first
  EXPECT_EQ(doubled[1].range, (TimeRange{100, 102}));

  std::vector<Utterance> shortOnes{utterance(0, "we ship the demo.", 0, 2), utterance(1, "we ship the demo.", 10, 12)};
  EXPECT_TRUE(OutputAudit::audit(shortOnes, transcriptOf(shortOnes), keepAll(20), std::nullopt).empty());
  std::vector<Utterance> farApart{utterance(0, "we ship the demo today.", 0, 2),
                                  utterance(1, "we ship the demo today.", 123, 125)};
  EXPECT_TRUE(OutputAudit::audit(farApart, transcriptOf(farApart), keepAll(130), std::nullopt).empty());
}

TEST(OutputAudit, ChoppyStretchesAndRuns) {
  // Twelve wordless 1.5 s keeps: the first eleven lie within 15 s of cut of the first; one report.
  std::vector<TimeRange> ranges;
  for (int k = 0; k < 12; ++k) ranges.push_back({10.0 * k, 10.0 * k + 1.5});
  auto stretch = OutputAudit::audit({}, {}, keeps(ranges), std::nullopt);
  ASSERT_EQ(stretch.size(), 1u);
  EXPECT_EQ(stretch[0], (Defect{Kind::choppyRegion,
                                {0, 101.5},
                                "choppy stretch: 11 sub-2s keeps within 15s of cut around source 0:00–1:41",
                                {}}));
  ranges.resize(4);
  EXPECT_TRUE(OutputAudit::audit({}, {}, keeps(ranges), std::nullopt).empty());

  // Three sub-3 s keeps holding words make a run; a wordless one between breaks it.
  std::vector<Utterance> us{utterance(0, "first bit here.", 0.5, 2), utterance(1, "second bit here.", 10.5, 12),
                            utterance(2, "third bit here.", 20.5, 22)};
  auto run = ofKind(OutputAudit::audit(us, transcriptOf(us), keeps({{0, 2.5}, {10, 12.5}, {20, 22.5}}), std::nullopt),
                    Kind::choppyRegion);
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(
      run[0],
      (Defect{Kind::choppyRegion, {0, 22.5}, "choppy run: 3 consecutive sub-3s keeps at source 0:00–0:22", {0, 1, 2}}));
  EXPECT_TRUE(ofKind(OutputAudit::audit(us, transcriptOf(us), keeps({{0, 2.5}, {5, 7.5}, {10, 12.5}, {20, 22.5}}),
                                        std::nullopt),
                     Kind::choppyRegion)
                  .empty());

  // A removed filler is a cut like any other: keeps split by filler cuts make a run, as with flubs.
  CutList filled{{{{0, 2.5}, SegmentKind::keep},
                  {{2.5, 2.8}, SegmentKind::filler},
                  {{2.8, 5}, SegmentKind::keep},
                  {{5, 5.4}, SegmentKind::filler},
                  {{5.4, 7.5}, SegmentKind::keep}}};
  std::vector<Utterance> said{utterance(0, "first bit here", 0.5, 2.4), utterance(1, "second bit here", 2.9, 4.9),
                              utterance(2, "third bit here.", 5.5, 7.4)};
  const auto byFillers = OutputAudit::audit(said, transcriptOf(said), filled, std::nullopt);
  ASSERT_EQ(kinds(byFillers), (std::vector<Kind>{Kind::choppyRegion}));
  EXPECT_EQ(byFillers[0].detail, "choppy run: 3 consecutive sub-3s keeps at source 0:00–0:07");
  for (auto& s : filled.segments)
    if (s.kind == SegmentKind::filler) s.kind = SegmentKind::flub;
  EXPECT_EQ(OutputAudit::audit(said, transcriptOf(said), filled, std::nullopt), byFillers);

  // Five 1.5 s keeps split by filler cuts are a choppy stretch, as when flubs split them.
  for (auto between : {SegmentKind::filler, SegmentKind::flub}) {
    CutList split;
    for (int k = 0; k < 5; ++k) {
      if (k > 0) split.segments.push_back({{1.9 * k - 0.4, 1.9 * k}, between});
      split.segments.push_back({{1.9 * k, 1.9 * k + 1.5}, SegmentKind::keep});
    }
    const auto found = OutputAudit::audit({}, {}, split, std::nullopt);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].detail, "choppy stretch: 5 sub-2s keeps within 15s of cut around source 0:00–0:09");
  }

  // Five short keeps with words: the cut-time report covers the run, which is not reported again.
  std::vector<Utterance> five;
  std::vector<TimeRange> fiveKeeps;
  for (int k = 0; k < 5; ++k) {
    five.push_back(utterance(k, "some words here.", 10.0 * k + 0.2, 10.0 * k + 1.2));
    fiveKeeps.push_back({10.0 * k, 10.0 * k + 1.5});
  }
  auto once = ofKind(OutputAudit::audit(five, transcriptOf(five), keeps(fiveKeeps), std::nullopt), Kind::choppyRegion);
  ASSERT_EQ(once.size(), 1u);
  EXPECT_EQ(once[0].detail, "choppy stretch: 5 sub-2s keeps within 15s of cut around source 0:00–0:41");
  EXPECT_EQ(once[0].utteranceIndices, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(OutputAudit, UnfinishedLines) {
  auto audited = [](double nextStart) {
    std::vector<Utterance> us{utterance(0, "so what we want to do is and", 0, 3),
                              utterance(1, "okay moving on.", nextStart, nextStart + 1)};
    return ofKind(OutputAudit::audit(us, transcriptOf(us), keepAll(20), std::nullopt), Kind::unfinishedLine);
  };
  EXPECT_TRUE(audited(4.9).empty());
  auto reported = audited(5.0);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], (Defect{Kind::unfinishedLine,
                                 {0, 3},
                                 "kept line ends unfinished with no completed twin: “…we want to do is and” at 0:00",
                                 {0}}));

  // A completed rendition of the same line elsewhere in the cut exempts it.
  std::vector<Utterance> twin{utterance(0, "so what we want to do is and", 0, 3),
                              utterance(1, "so what we want to do is ship it.", 60, 63)};
  EXPECT_TRUE(
      ofKind(OutputAudit::audit(twin, transcriptOf(twin), keepAll(70), std::nullopt), Kind::unfinishedLine).empty());
  // Short lines are never unfinished.
  std::vector<Utterance> brief{utterance(0, "so what we", 0, 3)};
  EXPECT_TRUE(OutputAudit::audit(brief, transcriptOf(brief), keepAll(10), std::nullopt).empty());
}

TEST(OutputAudit, SuspectFragments) {
  // A short keep of the fragment's words between two longer keeps, with the given segments
  // on each side of it.
  auto around = [](const std::string& fragment, std::vector<Segment> left, SegmentKind right) {
    std::vector<Utterance> us{utterance(0, "hello there my friends.", 0, 4), utterance(1, fragment, 5.6, 6.4),
                              utterance(2, "and now the real part.", 8.5, 11.5)};
    CutList cut{{Segment{{0, left.front().range.start}, SegmentKind::keep}}};
    cut.segments.insert(cut.segments.end(), left.begin(), left.end());
    cut.segments.push_back({{5.5, 6.5}, SegmentKind::keep});
    cut.segments.push_back({{6.5, 7}, right});
    cut.segments.push_back({{7, 12}, SegmentKind::keep});
    return std::make_pair(us, cut);
  };
  const std::vector<Segment> flub{{{5, 5.5}, SegmentKind::flub}};
  const std::vector<Segment> filler{{{5, 5.5}, SegmentKind::filler}};
  const std::vector<Segment> shortSilence{{{4.5, 5}, SegmentKind::silence}, {{5, 5.5}, SegmentKind::silence}};
  const std::vector<Segment> longSilence{{{4.2, 4.85}, SegmentKind::silence}, {{4.85, 5.5}, SegmentKind::silence}};
  {
    auto [us, cut] = around("we go.", flub, SegmentKind::flub);
    auto found = OutputAudit::audit(us, transcriptOf(us), cut, std::nullopt);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], (Defect{Kind::suspectFragment,
                                {5.5, 6.5},
                                "isolated 1.0s fragment at 0:05: “we go.” — not a script line or complete thought",
                                {1}}));
    // The same words inside a script line are accepted; unrelated ones are not.
    EXPECT_TRUE(OutputAudit::audit(us, transcriptOf(us), cut, "Then we go home tonight.").empty());
    EXPECT_EQ(kinds(OutputAudit::audit(us, transcriptOf(us), cut, "Something else entirely here.")),
              (std::vector<Kind>{Kind::missingBeat, Kind::suspectFragment}));
  }
  {
    auto [us, cut] = around("we go now.", flub, SegmentKind::flub);  // a complete thought of three tokens
    EXPECT_TRUE(OutputAudit::audit(us, transcriptOf(us), cut, std::nullopt).empty());
  }
  {
    auto [us, cut] = around("we go", shortSilence, SegmentKind::silence);  // joined to both neighbours
    EXPECT_TRUE(OutputAudit::audit(us, transcriptOf(us), cut, std::nullopt).empty());
  }
  {
    auto [us, cut] = around("we go", longSilence, SegmentKind::silence);  // 1.3 s of silence on the left
    auto found = OutputAudit::audit(us, transcriptOf(us), cut, std::nullopt);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, Kind::suspectFragment);
  }
  {
    // A fragment whose utterance is already named by a defect is not reported again.
    auto [us, cut] = around("we go so what we want to do is and", flub, SegmentKind::flub);
    us[1] = utterance(1, "we go so what we want to do is and", 5.6, 6.4);
    EXPECT_EQ(kinds(OutputAudit::audit(us, transcriptOf(us), cut, std::nullopt)),
              (std::vector<Kind>{Kind::unfinishedLine}));
  }
  {
    // A removed filler is no pause: two words ending a sentence between two filler cuts are
    // not joined, and so a fragment; three are a complete thought.
    auto [us, cut] = around("we go.", filler, SegmentKind::filler);
    EXPECT_EQ(kinds(OutputAudit::audit(us, transcriptOf(us), cut, std::nullopt)),
              (std::vector<Kind>{Kind::suspectFragment}));
    auto [three, cutOfThree] = around("we go now.", filler, SegmentKind::filler);
    EXPECT_TRUE(OutputAudit::audit(three, transcriptOf(three), cutOfThree, std::nullopt).empty());
    // Even a short silence beside the filler does not join it.
    auto [beside, cutBeside] =
        around("we go", {{{4.5, 5}, SegmentKind::silence}, {{5, 5.5}, SegmentKind::filler}}, SegmentKind::silence);
    EXPECT_EQ(kinds(OutputAudit::audit(beside, transcriptOf(beside), cutBeside, std::nullopt)),
              (std::vector<Kind>{Kind::suspectFragment}));
  }
}
