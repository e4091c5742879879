#include "kestrane/brain/CutInstruments.hpp"

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

using namespace kestrane;
using CutInstruments::Finding;
using Kind = CutInstruments::Finding::Kind;
using kestrane::testing::word;

namespace {

// A 10 s envelope at hop 0.01 s, -90 dBFS except where painted.
struct Envelope {
  std::vector<float> samples = std::vector<float>(1000, -90.0f);
  Envelope& paint(int from, int to, float level) {
    for (int k = from; k < to; ++k) samples[static_cast<std::size_t>(k)] = level;
    return *this;
  }
  LevelData data() const { return LevelData::fromLevels(0.01, samples); }
  CutInstruments::Levels levels() const { return {samples, 0.01}; }
};

CutList cut(std::vector<TimeRange> keeps) {
  CutList list;
  for (const auto& r : keeps) list.segments.push_back({r, SegmentKind::keep});
  return list;
}

// Words spoken at -20 dBFS, giving a speech reference of -20 and a room-tone ceiling of -40.
Transcript speech() { return {{word("hello", 0.5, 1.5), word("again", 5.6, 6.5)}}; }
Envelope speaking() { return Envelope{}.paint(50, 150, -20).paint(560, 650, -20); }

Finding level(double start, double severity) { return {Kind::spliceLevel, {start, start + 1}, "step", severity}; }

}  // namespace

TEST(CutInstruments, RoomToneStepsAcrossJoins) {
  auto joins = cut({{0, 2}, {5, 7}});
  auto stepped = speaking().paint(150, 200, -50).paint(495, 550, -62);
  auto findings = CutInstruments::spliceQuality(joins, speech(), stepped.data(), -40);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0],
            (Finding{Kind::spliceLevel,
                     {2, 5},
                     "room tone steps 12 dB across the cut at 0:02 (-50 dBFS → -62 dBFS) — the join may be audible",
                     12}));

  // A side at the silent floor is not compared.
  auto floor = speaking().paint(150, 200, -50).paint(495, 550, -70);
  EXPECT_TRUE(CutInstruments::spliceQuality(joins, speech(), floor.data(), -40).empty());
  // Only two room-tone samples on the incoming side: not measured.
  auto loudIn = speaking().paint(150, 200, -50).paint(495, 550, -30).paint(500, 502, -62);
  EXPECT_TRUE(CutInstruments::spliceQuality(joins, speech(), loudIn.data(), -40).empty());

  // No levels, undecodable levels, or a single keep: nothing measured.
  EXPECT_TRUE(CutInstruments::spliceQuality(joins, speech(), std::nullopt, -40).empty());
  EXPECT_TRUE(CutInstruments::spliceQuality(joins, speech(), LevelData{0.01, "not base64!"}, -40).empty());
  EXPECT_TRUE(CutInstruments::spliceQuality(cut({{0, 7}}), speech(), stepped.data(), -40).empty());
}

TEST(CutInstruments, BreathRunsAtCutPoints) {
  // Breath band for a -40 dBFS threshold: above -40, at most -28.
  auto band = Envelope{}.paint(100, 110, -28);
  auto run = CutInstruments::breathRun(1.05, band.levels(), -40);
  ASSERT_TRUE(run);
  EXPECT_NEAR(run->start, 1.0, 1e-9);
  EXPECT_NEAR(run->end, 1.1, 1e-9);
  EXPECT_FALSE(CutInstruments::breathRun(1.05, Envelope{}.paint(100, 110, -40).levels(), -40));
  EXPECT_FALSE(CutInstruments::breathRun(1.035, Envelope{}.paint(100, 107, -30).levels(), -40));  // 0.07 s
  EXPECT_FALSE(CutInstruments::breathRun(1.185, Envelope{}.paint(100, 120, -30).levels(), -40));  // ends 0.015 s on
  EXPECT_TRUE(CutInstruments::breathRun(1.165, Envelope{}.paint(100, 120, -30).levels(), -40));
  EXPECT_FALSE(CutInstruments::breathRun(-0.5, band.levels(), -40));
  EXPECT_FALSE(CutInstruments::breathRun(20, band.levels(), -40));

  // The out-point at 2.0 lands in a breath; the in-point at 3.0 lies inside a word.
  auto joins = cut({{0, 2}, {3, 5}});
  Transcript words{{word("hello", 0.5, 1.5), word("there", 2.95, 3.4)}};
  auto levels = Envelope{}.paint(50, 150, -20).paint(295, 340, -20).paint(195, 210, -35).paint(290, 295, -35);
  auto findings = CutInstruments::spliceQuality(joins, words, levels.data(), -40);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, Kind::spliceBreath);
  EXPECT_EQ(findings[0].detail,
            "the cut at 0:02 lands inside 0.15s of audible breath (1.95–2.10) — trim to its edge or keep it whole");
  EXPECT_NEAR(findings[0].severity, 0.15, 1e-9);

  // A word overlapping the breath run rules it out.
  words.words.push_back(word("uh", 2.05, 2.2));
  EXPECT_TRUE(CutInstruments::spliceQuality(joins, words, levels.data(), -40).empty());
}

TEST(CutInstruments, PacingJumpsBetweenTakes) {
  Transcript words;
  // Six words over 3 s end the first keep (2 words/s); six over 1.5 s start the second (4 words/s).
  for (int k = 0; k < 6; ++k) words.words.push_back(word("slow", 7 + 0.5 * k, 7 + 0.5 * k + 0.5));
  for (int k = 0; k < 6; ++k) words.words.push_back(word("fast", 20 + 0.25 * k, 20 + 0.25 * k + 0.25));
  auto findings = CutInstruments::pacingWhiplash(cut({{5, 10}, {20, 21.5}}), words);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0],
            (Finding{Kind::pacingWhiplash,
                     {10, 20},
                     "delivery speed jumps across the cut at 0:10 (2.0 → 4.0 words/sec) — the two takes were paced "
                     "differently",
                     2.0}));
  EXPECT_EQ(CutInstruments::rateEndingIn({5, 10}, words), 2.0);
  EXPECT_EQ(CutInstruments::rateStartingIn({19.995, 21.505}, words), 4.0);  // 0.01 s of slack
  EXPECT_FALSE(CutInstruments::rateStartingIn({20.02, 21.5}, words));       // only five words inside

  // 3.75 words/s after 2.0 is a ratio under 1.9.
  Transcript milder = words;
  for (int k = 0; k < 6; ++k)
    milder.words[6 + static_cast<std::size_t>(k)].range = {20 + 0.32 * k, 20 + 0.32 * (k + 1)};
  EXPECT_TRUE(CutInstruments::pacingWhiplash(cut({{5, 10}, {20, 22}}), milder).empty());
  // Six words over 0.9 s have no rate.
  Transcript hurried = words;
  for (int k = 0; k < 6; ++k)
    hurried.words[6 + static_cast<std::size_t>(k)].range = {20 + 0.15 * k, 20 + 0.15 * (k + 1)};
  EXPECT_TRUE(CutInstruments::pacingWhiplash(cut({{5, 10}, {20, 22}}), hurried).empty());
}

TEST(CutInstruments, RankKeepsTheWorstPerKindInTimeOrder) {
  std::vector<Finding> findings;
  for (int k = 1; k <= 10; ++k) findings.push_back(level(100 - k, k));
  findings.push_back({Kind::spliceBreath, {95, 95.2}, "breath", 0.2});
  auto ranked = CutInstruments::rank(findings);
  ASSERT_EQ(ranked.size(), 9u);
  for (std::size_t k = 1; k < ranked.size(); ++k) EXPECT_LE(ranked[k - 1].range.start, ranked[k].range.start);
  for (const auto& f : ranked) EXPECT_TRUE(f.kind == Kind::spliceBreath || f.severity >= 3);
  // A breath and a level step at the same start: the breath first.
  EXPECT_EQ(ranked[0].range.start, 90);
  EXPECT_EQ(ranked[5].kind, Kind::spliceBreath);
  EXPECT_EQ(ranked[6].kind, Kind::spliceLevel);
  EXPECT_EQ(ranked[6].range.start, 95);
}

TEST(CutInstruments, EvidenceBlock) {
  EXPECT_EQ(CutInstruments::evidence({}), std::nullopt);
  std::vector<Finding> findings;
  for (int k = 0; k < 25; ++k) findings.push_back(level(k, 12));
  findings[0] = {Kind::pacingWhiplash, {0, 1}, "first", 2};
  auto text = CutInstruments::evidence(findings);
  ASSERT_TRUE(text);
  const std::string header =
      "DETERMINISTIC CHECKS on this cut (measured from the audio, the word timings and the cut list — these are "
      "facts, not guesses):\n  • [pacingWhiplash] first\n  • [spliceLevel] step\n";
  EXPECT_EQ(text->substr(0, header.size()), header);
  const std::string tail =
      "  • [spliceLevel] step\n  • …and 5 more.\nA `sourceContinuity` note is a run mixed from two deliveries — treat "
      "it as runMix evidence and answer it with a cut or a restore. The splice, pacing and framing notes are for the "
      "EDITOR: do not cut a line just because a join is rough, unless the line itself is also wrong.\n";
  EXPECT_EQ(text->substr(text->size() - tail.size()), tail);
  EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 1 + 20 + 1 + 1);

  EXPECT_EQ(fromRawValue<Kind>("framingJump"), Kind::framingJump);
  EXPECT_EQ(fromRawValue<Kind>("FramingJump"), std::nullopt);
}

TEST(CutInstruments, SharedMeasures) {
  EXPECT_EQ(CutInstruments::median({}), 0);
  EXPECT_EQ(CutInstruments::median({3, 1, 2}), 2);
  EXPECT_EQ(CutInstruments::median({4, 1, 2, 3}), 2.5);
  EXPECT_EQ(CutInstruments::stamp(62.9), "1:02");
  EXPECT_EQ(CutInstruments::stamp(3600), "60:00");

  CutInstruments::Levels levels{{1, 2, 3, 4, 5}, 0.5};
  EXPECT_EQ(levels.window(0.5, 1.2), (std::vector<double>{2, 3}));
  EXPECT_EQ(levels.window(-3, 0.4), (std::vector<double>{1}));
  EXPECT_EQ(levels.window(2.0, 9), (std::vector<double>{5}));
  EXPECT_TRUE(levels.window(1.5, 1.5).empty());
}

TEST(CutInstruments, LinesMixedFromTwoDeliveries) {
  const std::vector<std::string> lines{
      "we started this company in a garage.", "the first product shipped after two years.",
      "customers loved the simple setup process.", "now we serve clients in forty countries."};
  std::vector<TakeSelector::Utterance> us;
  for (int run = 0; run < 2; ++run)
    for (int k = 0; k < 4; ++k)
      us.push_back(kestrane::testing::utterance(run * 4 + k, lines[static_cast<std::size_t>(k)], 120.0 * run + 6 * k,
                                                120.0 * run + 6 * k + 4));
  // The first delivery, but its third line taken from the second delivery.
  CutList mixed{{Segment{{0, 10}, SegmentKind::keep}, Segment{{10, 18}, SegmentKind::retakeRejected},
                 Segment{{18, 22}, SegmentKind::keep}, Segment{{22, 132}, SegmentKind::retakeRejected},
                 Segment{{132, 136}, SegmentKind::keep}, Segment{{136, 150}, SegmentKind::retakeRejected}}};
  auto findings = CutInstruments::sourceContinuity(us, mixed);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, Kind::sourceContinuity);
  EXPECT_EQ(findings[0].severity, 1.0);
  EXPECT_EQ(findings[0].range.start, 132);
  EXPECT_EQ(findings[0].range.end, 132 + 0.01);
  EXPECT_EQ(findings[0].detail,
            "the line at 2:12 (“customers loved the simple setup process.”) comes from a different delivery than the "
            "lines around it — the same line was delivered at 0:12 beside them");

  CutList whole{{Segment{{0, 24}, SegmentKind::keep}, Segment{{24, 150}, SegmentKind::retakeRejected}}};
  EXPECT_TRUE(CutInstruments::sourceContinuity(us, whole).empty());
}
