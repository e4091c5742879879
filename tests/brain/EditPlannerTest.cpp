#include <gtest/gtest.h>

#include <vector>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/export/CutListCheck.hpp"

using namespace kestrane;
using namespace kestrane::EditPlanner;

namespace {

Segment kept(double a, double b) { return Segment{{a, b}, SegmentKind::keep, std::nullopt, std::nullopt}; }
Segment cutOf(SegmentKind kind, double a, double b, std::optional<std::string> reason = std::nullopt,
              std::optional<std::int64_t> group = std::nullopt) {
  return Segment{{a, b}, kind, std::move(reason), group};
}
TranscriptWord word(std::string text, double a, double b) { return TranscriptWord{std::move(text), {a, b}}; }
SilenceSpan quiet(double a, double b, double mean = -60) { return SilenceSpan{{a, b}, mean}; }

// A source of `seconds` on the grid of `frameSeconds`, for the cases that have only those.
SourceMedia sourceOf(double seconds, double frameSeconds) {
  SourceMedia s;
  s.durationSeconds = seconds;
  s.frameDuration = RationalTime::standardFrameDuration(1.0 / frameSeconds);
  return s;
}

PipelineSettings withPadding(double padding) {
  auto settings = PipelineSettings::make(-40, 0.8, padding, true);
  return settings;
}

// Compares kinds and ranges (to 1e-9), and the reasons when `reasons` is set.
void expectSegments(const CutList& cut, const std::vector<Segment>& want, bool reasons = true) {
  ASSERT_EQ(cut.segments.size(), want.size()) << "segment count";
  for (std::size_t i = 0; i < want.size(); ++i) {
    const Segment& got = cut.segments[i];
    EXPECT_EQ(rawValue(got.kind), rawValue(want[i].kind)) << "segment " << i;
    EXPECT_NEAR(got.range.start, want[i].range.start, 1e-9) << "segment " << i;
    EXPECT_NEAR(got.range.end, want[i].range.end, 1e-9) << "segment " << i;
    if (reasons) {
      EXPECT_EQ(got.reason, want[i].reason) << "segment " << i;
    }
  }
}

// Whether every word's midpoint lies in a kept segment.
bool everyWordKept(const CutList& cut, const std::vector<TranscriptWord>& words) {
  for (const auto& w : words) {
    const double mid = (w.range.start + w.range.end) / 2;
    bool found = false;
    for (const auto& s : cut.segments) {
      if (s.isKept() && s.range.start <= mid && mid < s.range.end) found = true;
    }
    if (!found) return false;
  }
  return true;
}

// Material for the whole chain, the silences doubling as the splitter's pauses. It borrows the
// lists, as the planner's material does.
CutMaterial chainOf(double duration, std::span<const SilenceSpan> silences, std::span<const TranscriptWord> words,
                    std::span<const Segment> removals = {}) {
  CutMaterial material;
  material.sourceDuration = duration;
  material.frameDuration = 1.0 / 30;
  material.silences = silences;
  material.splitterSilences = silences;
  material.removals = removals;
  material.words = words;
  material.settings = withPadding(0.15);
  return material;
}

}  // namespace

TEST(EditPlanner, SilenceCutsArePaddedAndNamed) {
  EXPECT_DOUBLE_EQ(wordTailRelease(0.05), 0.15);
  EXPECT_DOUBLE_EQ(wordTailRelease(0.15), 0.23);
  EXPECT_DOUBLE_EQ(wordTailRelease(0.30), 0.35);

  const std::vector<SilenceSpan> one{quiet(10.00, 11.34, -52.37)};
  expectSegments(
      planSilenceCuts(20, one, withPadding(0.15), {}),
      {kept(0, 10.15), cutOf(SegmentKind::silence, 10.15, 11.19, "silence 1.3s @ -52.4 dBFS"), kept(11.19, 20)});

  // No padding at the source's start and end; a middle silence left at 0.05 s is not cut.
  const std::vector<SilenceSpan> edges{quiet(0, 2), quiet(5, 5.35), quiet(18, 20)};
  expectSegments(planSilenceCuts(20, edges, withPadding(0.15), {}),
                 {cutOf(SegmentKind::silence, 0, 1.85), kept(1.85, 18.15), cutOf(SegmentKind::silence, 18.15, 20)},
                 false);

  expectSegments(planSilenceCuts(7, {}, withPadding(0.15), {}), {kept(0, 7)});
  EXPECT_TRUE(planSilenceCuts(0, {}, withPadding(0.15), {}).segments.empty());
  // A silence reaching past the source stops at its end.
  const std::vector<SilenceSpan> past{quiet(8, 12)};
  expectSegments(planSilenceCuts(10, past, withPadding(0.15), {}),
                 {kept(0, 8.15), cutOf(SegmentKind::silence, 8.15, 10)}, false);
}

TEST(EditPlanner, SilenceCutsKeepWordTails) {
  const std::vector<SilenceSpan> silence{quiet(10, 12)};
  // Recognised end 0.05 s before the silence: the tail may be clipped, keep 0.15 s past it.
  std::vector<TranscriptWord> close{word("done", 9.0, 9.95)};
  auto cut = planSilenceCuts(20, silence, withPadding(0.05), close);
  EXPECT_NEAR(cut.segments[0].range.end, 10.15, 1e-9);
  // 0.2 s before: only the release applies, and the padded start already honours it.
  std::vector<TranscriptWord> early{word("done", 9.0, 9.8)};
  cut = planSilenceCuts(20, silence, withPadding(0.05), early);
  EXPECT_NEAR(cut.segments[0].range.end, 10.05, 1e-9);
  // A word that runs across the padded start keeps its end.
  std::vector<TranscriptWord> across{word("late", 10.0, 10.5)};
  const std::vector<SilenceSpan> earlier{quiet(9.9, 12)};
  cut = planSilenceCuts(20, earlier, withPadding(0.15), across);
  EXPECT_NEAR(cut.segments[0].range.end, 10.5, 1e-9);
}

TEST(EditPlanner, RemovalsOnlyReplaceKeptStretches) {
  const CutList base{{kept(0, 5), cutOf(SegmentKind::silence, 5, 7, "silence 2.0s @ -60.0 dBFS"), kept(7, 10)}};
  const std::vector<Segment> ignored{cutOf(SegmentKind::keep, 1, 2), cutOf(SegmentKind::flub, 3, 3)};
  EXPECT_EQ(applying(ignored, base, {}, 0.15, {}).segments, base.segments);

  const std::vector<Segment> across{cutOf(SegmentKind::flub, 4, 8, "stumbled", 3)};
  const auto cut = applying(across, base, {}, 0.15, {});
  expectSegments(cut, {kept(0, 4), cutOf(SegmentKind::flub, 4, 5, "stumbled"),
                       cutOf(SegmentKind::silence, 5, 7, "silence 2.0s @ -60.0 dBFS"),
                       cutOf(SegmentKind::flub, 7, 8, "stumbled"), kept(8, 10)});
  EXPECT_EQ(cut.segments[1].takeGroup, 3);

  // A kept stretch keeps its take group on its last piece; a whole one loses its reason.
  CutList grouped{{Segment{{0, 10}, SegmentKind::keep, "restored", 7}, kept(10, 12)}};
  const std::vector<Segment> middle{cutOf(SegmentKind::retakeRejected, 4, 6, "earlier take")};
  const auto split = applying(middle, grouped, {}, 0.15, {});
  ASSERT_EQ(split.segments.size(), 4u);
  EXPECT_EQ(split.segments[0].takeGroup, std::nullopt);
  EXPECT_EQ(split.segments[2].takeGroup, 7);
  EXPECT_EQ(split.segments[2].reason, std::nullopt);

  // The removal's start gives way to the tail of the word before it, further when a silence
  // right after the word hints at a clipped tail.
  const std::vector<TranscriptWord> words{word("hello", 1.0, 2.0), word("again", 2.1, 2.9)};
  const std::vector<Segment> retake{cutOf(SegmentKind::retakeRejected, 2.0, 3.0)};
  const CutList whole{{kept(0, 5)}};
  EXPECT_NEAR(applying(retake, whole, words, 0.15, {}).segments[1].range.start, 2.23, 1e-9);
  const std::vector<SilenceSpan> clip{quiet(2.1, 2.6)};
  EXPECT_NEAR(applying(retake, whole, words, 0.15, clip).segments[1].range.start, 2.25, 1e-9);

  // A filler too short to give way to the word's tail still never reaches into the words
  // around it: the recogniser's overlap belongs to them.
  const std::vector<TranscriptWord> heard{word("from", 1.0, 2.0), word("um", 1.9, 2.1), word("so", 2.05, 2.6)};
  const std::vector<Segment> filler{cutOf(SegmentKind::filler, 1.9, 2.1)};
  expectSegments(applying(filler, whole, heard, 0.15, {}),
                 {kept(0, 2.0), cutOf(SegmentKind::filler, 2.0, 2.05), kept(2.05, 5)});
  // Wholly inside a word, it is not cut at all.
  const std::vector<TranscriptWord> inside{word("from", 1.0, 2.0), word("um", 1.6, 1.8), word("so", 1.8, 2.6)};
  const std::vector<Segment> within{cutOf(SegmentKind::filler, 1.6, 1.8)};
  expectSegments(applying(within, whole, inside, 0.15, {}), {kept(0, 5)});
}

TEST(EditPlanner, DeadEdgesAreTrimmedOnlyWhenWorthIt) {
  const std::vector<TranscriptWord> words{word("we", 0.5, 1.0), word("ship", 1.1, 2.0), word("today.", 2.1, 3.0)};
  // 0.3 s after the last word and a trim under 0.2 s: the tail stays.
  expectSegments(trimDeadEdges(CutList{{kept(0, 3.3)}}, words, {}, 0.05, 1.0 / 30), {kept(0, 3.3)});
  // 0.5 s: trimmed to the word's release.
  expectSegments(trimDeadEdges(CutList{{kept(0, 3.5)}}, words, {}, 0.05, 1.0 / 30),
                 {kept(0, 3.15), cutOf(SegmentKind::silence, 3.15, 3.5, "dead air trimmed from the tail of the take")});

  // A leading silence that ends a second after the keep starts: the head goes to the padding
  // before the speech.
  const std::vector<TranscriptWord> later{word("so", 3.1, 3.5), word("anyway", 3.6, 4.2)};
  const std::vector<SilenceSpan> lead{quiet(0.5, 3.0)};
  expectSegments(
      trimDeadEdges(CutList{{kept(2.0, 4.4)}}, later, lead, 0.15, 1.0 / 30),
      {cutOf(SegmentKind::silence, 2.0, 2.85, "dead air trimmed from the head of the take"), kept(2.85, 4.4)});

  // No words, or no words inside: unchanged.
  const CutList base{{kept(0, 3.5), cutOf(SegmentKind::silence, 3.5, 4)}};
  EXPECT_EQ(trimDeadEdges(base, {}, {}, 0.05, 0.04).segments, base.segments);
  const std::vector<TranscriptWord> outside{word("far", 10, 11)};
  EXPECT_EQ(trimDeadEdges(base, outside, {}, 0.05, 0.04).segments, base.segments);
}

TEST(EditPlanner, TidyAbsorbsAsidesFragmentsAndOrphans) {
  // Two words between a rejected take and a silence: an aside, absorbed into the take cut.
  const std::vector<TranscriptWord> aside{word("this", 0.5, 1.0), word("is", 1.1, 1.5),   word("it.", 1.6, 2.5),
                                          word("oh", 7.6, 8.0),   word("wait", 8.1, 8.6), word("here", 9.8, 10.5),
                                          word("we", 10.6, 11.0), word("go.", 11.1, 12)};
  const CutList asideCut{{kept(0, 5), cutOf(SegmentKind::retakeRejected, 5, 7.5, "earlier take"), kept(7.5, 8.7),
                          cutOf(SegmentKind::silence, 8.7, 9.7), kept(9.7, 14)}};
  auto cut = tidy(asideCut, aside, {}, 1.0);
  EXPECT_EQ(cut.segments[2].kind, SegmentKind::retakeRejected);
  EXPECT_EQ(cut.segments[2].reason, "isolated aside between takes");
  // Only 2.0 s of removed take before it: it stays.
  const CutList shorter{{kept(0, 5.5), cutOf(SegmentKind::retakeRejected, 5.5, 7.5), kept(7.5, 8.7),
                         cutOf(SegmentKind::silence, 8.7, 9.7), kept(9.7, 14)}};
  EXPECT_TRUE(tidy(shorter, aside, {}, 1.0).segments[2].isKept());

  // One word repeated inside a longer kept line 5 s later: a fragment; 15 s later: not.
  const std::vector<TranscriptWord> near{word("ship", 0.2, 0.6), word("we", 5.9, 6.2), word("ship", 6.3, 6.7),
                                         word("today.", 6.8, 7.5)};
  cut = tidy(CutList{{kept(0, 0.8), cutOf(SegmentKind::silence, 0.8, 5.8), kept(5.8, 9)}}, near, {}, 1.0);
  EXPECT_EQ(cut.segments[0].kind, SegmentKind::silence);
  EXPECT_EQ(cut.segments[0].reason, "fragment of the adjacent line");
  const std::vector<TranscriptWord> far{word("ship", 0.2, 0.6), word("we", 15.9, 16.2), word("ship", 16.3, 16.7),
                                        word("today.", 16.8, 17.5)};
  EXPECT_TRUE(tidy(CutList{{kept(0, 0.8), cutOf(SegmentKind::silence, 0.8, 15.8), kept(15.8, 19)}}, far, {}, 1.0)
                  .segments[0]
                  .isKept());

  // A sliver beside a rejected take is an orphan and takes the take cut's kind; a wordless
  // sliver becomes silence.
  const std::vector<TranscriptWord> orphanWords{word("and", 2.1, 2.4), word("then", 4.0, 4.3), word("more", 4.4, 5.5)};
  cut = tidy(CutList{{cutOf(SegmentKind::retakeRejected, 0, 2), kept(2, 2.5), cutOf(SegmentKind::silence, 2.5, 3),
                      kept(3, 3.4), cutOf(SegmentKind::silence, 3.4, 3.9), kept(3.9, 6)}},
             orphanWords, {}, 1.0);
  EXPECT_EQ(cut.segments[1].kind, SegmentKind::retakeRejected);
  EXPECT_EQ(cut.segments[1].reason, "orphan sliver absorbed");
  EXPECT_EQ(cut.segments[3].kind, SegmentKind::silence);
  EXPECT_EQ(cut.segments[3].reason, "orphan sliver absorbed");
  EXPECT_TRUE(cut.segments[5].isKept());

  // Fewer than two kept segments: nothing to tidy.
  const CutList single{{kept(0, 0.5), cutOf(SegmentKind::flub, 0.5, 3)}};
  EXPECT_EQ(tidy(single, {}, {}, 1.0).segments, single.segments);
}

TEST(EditPlanner, TidyKeepsSentencesAroundFillersAndKeptLines) {
  // "We ship um today." with the filler cut: neither half is an orphan of a take cut.
  const std::vector<TranscriptWord> words{word("We", 0.1, 0.35), word("ship", 0.4, 0.8), word("um", 0.95, 1.2),
                                          word("today.", 1.35, 1.9)};
  const CutList split{{kept(0, 0.95), cutOf(SegmentKind::filler, 0.95, 1.3, "filler “um”"), kept(1.3, 2.2)}};
  EXPECT_EQ(tidy(split, words, {}, 1.0).segments, split.segments);

  // An orphan whose first word runs on into a kept line stays; across a long pause it goes.
  auto sliverBefore = [](double lineStart) {
    return std::vector<TranscriptWord>{word("so", 2.4, 2.8), word("we", lineStart, lineStart + 0.25),
                                       word("begin", lineStart + 0.3, lineStart + 0.9)};
  };
  const CutList orphan{{cutOf(SegmentKind::flub, 0, 2), cutOf(SegmentKind::silence, 2, 2.3), kept(2.3, 2.9),
                        cutOf(SegmentKind::silence, 2.9, 3.2), kept(3.2, 6)}};
  EXPECT_TRUE(tidy(orphan, sliverBefore(3.25), {}, 1.0).segments[2].isKept());
  const auto gone = tidy(orphan, sliverBefore(3.6), {}, 1.0);
  EXPECT_EQ(gone.segments[2].kind, SegmentKind::silence);
  EXPECT_EQ(gone.segments[2].reason, "orphan sliver absorbed");

  // Guarded words are never absorbed.
  const std::vector<TranscriptWord> guard{word("so", 2.4, 2.8)};
  EXPECT_TRUE(tidy(orphan, sliverBefore(3.6), {}, 1.0, guard).segments[2].isKept());
}

TEST(EditPlanner, JoinsMoveToAQuieterPoint) {
  const CutList cut{{kept(0, 2.0), cutOf(SegmentKind::silence, 2.0, 3.0), kept(3.0, 5.0)}};
  auto levelsWith = [](float quietest) {
    std::vector<float> levels(500, -30);
    levels[212] = quietest;  // 0.12 s after the join
    return LevelData::fromLevels(0.01, levels);
  };
  auto moved = snapAbuttingBoundaries(cut, {}, levelsWith(-38), 1.0 / 30);
  EXPECT_NEAR(moved.segments[0].range.end, 2.12, 1e-9);
  EXPECT_NEAR(moved.segments[1].range.start, 2.12, 1e-9);
  EXPECT_EQ(snapAbuttingBoundaries(cut, {}, levelsWith(-34), 1.0 / 30).segments, cut.segments);
  // Never past the middle of a word the removal takes out.
  const std::vector<TranscriptWord> words{word("uh", 2.05, 2.15)};
  moved = snapAbuttingBoundaries(cut, words, levelsWith(-38), 1.0 / 30);
  EXPECT_NEAR(moved.segments[0].range.end, 2.10, 1e-9);
  // Without usable levels nothing moves.
  EXPECT_EQ(snapAbuttingBoundaries(cut, {}, std::nullopt, 1.0 / 30).segments, cut.segments);
  EXPECT_EQ(snapAbuttingBoundaries(cut, {}, LevelData{0.01, "!!"}, 1.0 / 30).segments, cut.segments);
}

TEST(EditPlanner, HandEditsAreForced) {
  const std::vector<TimeRange> both{{2, 4}};
  const auto restored = forcing(both, both, CutList{{kept(0, 10)}});
  expectSegments(restored, {Segment{{0, 10}, SegmentKind::keep, manualKeepReason, std::nullopt}});

  const CutList base{{kept(0, 5), cutOf(SegmentKind::silence, 5, 7, "pause"), kept(7, 10)}};
  const std::vector<TimeRange> removal{{4, 8}};
  expectSegments(forcing({}, removal, base), {kept(0, 4), cutOf(SegmentKind::manual, 4, 5, manualRemovalReason),
                                              cutOf(SegmentKind::silence, 5, 7, "pause"),
                                              cutOf(SegmentKind::manual, 7, 8, manualRemovalReason), kept(8, 10)});

  const CutList flub{{kept(0, 2), cutOf(SegmentKind::flub, 2, 6, "stumble", 1), kept(6, 8)}};
  const std::vector<TimeRange> keep{{3, 4}};
  const auto partly = forcing(keep, {}, flub);
  expectSegments(partly, {kept(0, 2), cutOf(SegmentKind::flub, 2, 3, "stumble"),
                          Segment{{3, 4}, SegmentKind::keep, manualKeepReason, std::nullopt},
                          cutOf(SegmentKind::flub, 4, 6, "stumble"), kept(6, 8)});
  EXPECT_EQ(partly.segments[1].takeGroup, 1);
  EXPECT_EQ(partly.segments[2].takeGroup, std::nullopt);

  // Edge slivers of 5 ms or less beside a forced piece go with it.
  const std::vector<TimeRange> nearStart{{0.003, 5}};
  expectSegments(forcing({}, nearStart, CutList{{kept(0, 10)}}),
                 {cutOf(SegmentKind::manual, 0, 5, manualRemovalReason), kept(5, 10)});
  EXPECT_EQ(forcing({}, {}, base).segments, base.segments);
}

TEST(EditPlanner, MicroKeepsAreSwept) {
  const CutList tiny{
      {kept(0, 3), cutOf(SegmentKind::silence, 3, 5), kept(5, 5.1), cutOf(SegmentKind::flub, 5.1, 8.1), kept(8.1, 10)}};
  expectSegments(sweepingMicroKeeps(tiny, {}, 0.12),
                 {kept(0, 3), cutOf(SegmentKind::silence, 3, 5), cutOf(SegmentKind::flub, 5, 8.1), kept(8.1, 10)},
                 false);
  const CutList wider{{kept(0, 3), cutOf(SegmentKind::silence, 3, 5), kept(5, 5.15),
                       cutOf(SegmentKind::flub, 5.15, 8.15), kept(8.15, 10)}};
  EXPECT_EQ(sweepingMicroKeeps(wider, {}, 0.12).segments, wider.segments);
  // Equal neighbours: the earlier one takes it. A sliver holding a word stays.
  const CutList even{{cutOf(SegmentKind::silence, 0, 2), kept(2, 2.1), cutOf(SegmentKind::flub, 2.1, 4.1)}};
  expectSegments(sweepingMicroKeeps(even, {}, 0.12),
                 {cutOf(SegmentKind::silence, 0, 2.1), cutOf(SegmentKind::flub, 2.1, 4.1)}, false);
  const std::vector<TranscriptWord> a{word("a", 2.02, 2.08)};
  EXPECT_EQ(sweepingMicroKeeps(even, a, 0.12).segments, even.segments);
}

TEST(EditPlanner, ChainKeepsEveryWordWhenOnlySilencesAreCut) {
  // "Okay." alone between two long pauses is an isolated aside to the full cut.
  const std::vector<TranscriptWord> words{word("Okay.", 3.0, 3.4), word("we", 7.0, 7.3), word("ship", 7.4, 7.9),
                                          word("it", 8.0, 8.2),    word("um", 8.4, 8.7), word("today.", 8.9, 9.6)};
  const std::vector<SilenceSpan> silences{quiet(0, 2.9), quiet(3.5, 7.0)};
  const std::vector<Segment> fillers{cutOf(SegmentKind::filler, 8.4, 8.7, "filler “um”")};
  CutMaterial material = chainOf(10, silences, words, fillers);

  const SourceMedia source = sourceOf(10, 1.0 / 30);
  material.settings.thoroughness = Thoroughness::balanced;
  const auto full = planCut(material);
  EXPECT_EQ(CutListCheck::fault(full, source), std::nullopt);
  EXPECT_FALSE(everyWordKept(full, words));

  material.settings.thoroughness = Thoroughness::silencesOnly;
  const auto silencesOnly = planCut(material);
  std::vector<TranscriptWord> spoken = words;
  std::erase_if(spoken, [](const TranscriptWord& w) { return w.text == "um"; });
  EXPECT_TRUE(everyWordKept(silencesOnly, spoken));
  // The filler still goes, and the cut still covers the source.
  EXPECT_FALSE(everyWordKept(silencesOnly, words));
  EXPECT_EQ(CutListCheck::fault(silencesOnly, source), std::nullopt);
}

TEST(EditPlanner, ChainCutsTheSilencesFoundWhateverWordsLieInside) {
  // A 0.2 s creak recognised inside a 1.6 s pause goes with the pause; only the word before it
  // keeps its tail.
  const std::vector<TranscriptWord> words{word("line.", 9.2, 9.8), word("uh", 10.6, 10.8), word("next", 11.5, 11.9)};
  const std::vector<SilenceSpan> pause{quiet(9.9, 11.5)};
  CutMaterial material = chainOf(13, pause, words);
  for (auto thoroughness : {Thoroughness::fast, Thoroughness::silencesOnly}) {
    material.settings.thoroughness = thoroughness;
    const auto cut = planCut(material);
    ASSERT_GE(cut.segments.size(), 3u);
    expectSegments(
        CutList{{cut.segments[0], cut.segments[1], cut.segments[2]}},
        {kept(0, 10.05), cutOf(SegmentKind::silence, 10.05, 11.35, "silence 1.6s @ -60.0 dBFS"), kept(11.35, 12.13)});
    EXPECT_EQ(CutListCheck::fault(cut, sourceOf(13, 1.0 / 30)), std::nullopt);
  }

  // Speech under the threshold reads as silence and is cut with it: the threshold decides.
  const std::vector<TranscriptWord> quietLine{word("keep", 4.0, 4.3), word("the", 4.3, 4.4), word("lights", 4.5, 5.0),
                                              word("low.", 5.1, 5.6)};
  const std::vector<SilenceSpan> all{quiet(0, 12)};
  material = chainOf(12, all, quietLine);
  EXPECT_LT(planCut(material).keptDuration(), 0.5);
}

TEST(EditPlanner, ChainLaysHandEditsOverTheDecision) {
  const std::vector<TranscriptWord> words{word("We", 0.1, 0.35), word("ship", 0.4, 0.8), word("um", 0.95, 1.2),
                                          word("today.", 1.35, 1.9)};
  const std::vector<Segment> fillers{cutOf(SegmentKind::filler, 0.95, 1.2, "filler “um”")};
  const std::vector<TimeRange> removeByHand{{1.5, 2.0}};
  CutMaterial material;
  material.sourceDuration = 2.0;
  material.frameDuration = 1.0 / 25;
  material.removals = fillers;
  material.words = words;
  material.settings = withPadding(0.15);
  // The sentence survives the filler cut in the full mode too.
  expectSegments(planCut(material),
                 {kept(0, 1.03), cutOf(SegmentKind::filler, 1.03, 1.2, "filler “um”"), kept(1.2, 2.0)});
  material.manualRemovals = removeByHand;
  const CutList edited = planCut(material);
  expectSegments(edited, {kept(0, 1.03), cutOf(SegmentKind::filler, 1.03, 1.2, "filler “um”"), kept(1.2, 1.5),
                          cutOf(SegmentKind::manual, 1.5, 2.0, manualRemovalReason)});
  EXPECT_EQ(CutListCheck::fault(edited, sourceOf(2.0, 1.0 / 25)), std::nullopt);
}
