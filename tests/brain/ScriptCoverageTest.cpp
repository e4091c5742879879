#include "kestrane/brain/ScriptCoverage.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrane;
using ScriptCoverage::BeatResult;
using ScriptCoverage::Status;

namespace {

// Words of text, 0.5 s each, from start.
std::vector<TranscriptWord> spoken(const std::string& text, double start) {
  std::vector<TranscriptWord> words;
  std::istringstream in(text);
  for (std::string w; in >> w; start += 0.5) words.push_back({w, {start, start + 0.4}});
  return words;
}

CutList keepAll(double end) { return CutList{{Segment{{0, end}, SegmentKind::keep}}}; }

}  // namespace

TEST(ScriptCoverage, NumbersCompareAsDigits) {
  EXPECT_EQ(ScriptCoverage::numberNormalized({"twenty", "one", "$1,000", "3.5", "5th", "covid-19", "percent", "١٢"}),
            (TextAlign::TokenList{"20", "1", "1000", "35", "5th", "covid-19", "percent", "١٢"}));

  Transcript transcript{spoken("we grew twenty percent", 10)};
  auto results = ScriptCoverage::assess("We grew 20 percent.", transcript, keepAll(20));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], (BeatResult{"We grew 20 percent", Status::covered, 10.0, 1.0}));
}

TEST(ScriptCoverage, BeatsAreSplitAndTrimmed) {
  EXPECT_TRUE(ScriptCoverage::assess("Say hi. OK!", Transcript{spoken("say hi ok", 0)}, keepAll(5)).empty());
  // Spaces and tabs are trimmed, a carriage return is not a split point and stays.
  EXPECT_EQ(ScriptCoverage::beatTexts("  \tFirst line here\r\nSecond line is? no\nLast one here"),
            (std::vector<std::string>{"First line here\r", "Second line is", "Last one here"}));
  EXPECT_EQ(ScriptCoverage::beatTexts("\u3000wide spaced line\u00a0"), (std::vector<std::string>{"wide spaced line"}));
}

TEST(ScriptCoverage, StatusFollowsTheShareOfMatchedTokens) {
  const std::string beat = "alpha bravo charlie delta echo foxtrot golf hotel india juliet";
  auto assessWith = [&](const std::string& said) {
    auto results = ScriptCoverage::assess(beat, Transcript{spoken(said, 3)}, keepAll(60));
    EXPECT_EQ(results.size(), 1u);
    return results.at(0);
  };
  auto six = assessWith("alpha bravo charlie delta echo foxtrot");
  EXPECT_EQ(six.status, Status::covered);
  EXPECT_DOUBLE_EQ(six.score, 0.6);
  EXPECT_EQ(six.matchTime, 3.0);
  auto five = assessWith("zulu bravo charlie delta echo foxtrot");
  EXPECT_EQ(five.status, Status::partial);
  EXPECT_EQ(five.matchTime, 3.5);  // the first kept word of the matched stretch
  auto two = assessWith("alpha bravo");
  EXPECT_EQ(two.status, Status::missing);
  EXPECT_EQ(two.matchTime, std::nullopt);

  // Nothing kept: every beat is missing.
  auto none = ScriptCoverage::assess(beat, Transcript{spoken(beat, 0)}, CutList{});
  EXPECT_EQ(none.at(0).status, Status::missing);
}

TEST(ScriptCoverage, KeptWordsAreThoseWhoseMidpointIsKept) {
  // "ship" [1.0, 2.0] has its midpoint 1.5 exactly where the first keep ends.
  Transcript transcript{{{"we", {0.2, 0.6}}, {"ship", {1.0, 2.0}}, {"the", {2.1, 2.3}}, {"demo", {2.4, 2.9}}}};
  CutList endsAtMidpoint{{Segment{{0, 1.5}, SegmentKind::keep}, Segment{{1.5, 2.05}, SegmentKind::silence},
                          Segment{{2.05, 3}, SegmentKind::keep}}};
  auto results = ScriptCoverage::assess("We ship the demo", transcript, endsAtMidpoint);
  EXPECT_DOUBLE_EQ(results.at(0).score, 0.75);

  CutList continues{{Segment{{0, 1.5}, SegmentKind::keep}, Segment{{1.5, 3}, SegmentKind::keep}}};
  EXPECT_DOUBLE_EQ(ScriptCoverage::assess("We ship the demo", transcript, continues).at(0).score, 1.0);

  // Two beats with the same words are both covered by the one kept rendition.
  auto repeated = ScriptCoverage::assess("We ship the demo.\nWe ship the demo.", transcript, continues);
  ASSERT_EQ(repeated.size(), 2u);
  EXPECT_EQ(repeated[0].status, Status::covered);
  EXPECT_EQ(repeated[1].status, Status::covered);
}

TEST(ScriptCoverage, ReportText) {
  std::vector<BeatResult> results{{"Welcome to the show", Status::covered, 75.4, 1.0},
                                  {"Today we talk numbers", Status::partial, 130.0, 0.5},
                                  {"Thanks for watching", Status::missing, std::nullopt, 0.0}};
  EXPECT_EQ(ScriptCoverage::markdown(results, "Demo"),
            "# Script coverage — Demo\n"
            "\n"
            "1/3 beats covered, 1 partial, **1 MISSING**\n"
            "\n"
            "## Missing from the cut\n"
            "- Thanks for watching\n"
            "\n"
            "## Beat by beat\n"
            "- ✓ Welcome to the show *(source 1:15)*\n"
            "- ◐ Today we talk numbers *(source 2:10)*\n"
            "- ✗ Thanks for watching");
  EXPECT_EQ(ScriptCoverage::markdown({}, "Empty"), "# Script coverage — Empty\n\n0/0 beats covered\n\n## Beat by beat");
  EXPECT_EQ(ScriptCoverage::markdown({results[0]}, "One"),
            "# Script coverage — One\n\n1/1 beats covered\n\n## Beat by beat\n- ✓ Welcome to the show *(source 1:15)*");

  EXPECT_EQ(fromRawValue<Status>("◐"), Status::partial);
  EXPECT_EQ(fromRawValue<Status>("x"), std::nullopt);
}

// A script that says its lines again and again is answered from the first saying: each repeat
// fares exactly as the line does alone, in the script's order.
TEST(ScriptCoverage, RepeatedLinesFareAsTheyDoAlone) {
  auto words = spoken("we start with the footage as it was recorded", 0);
  const auto more = spoken("then the rough cut comes together on its own", 10);
  words.insert(words.end(), more.begin(), more.end());
  const Transcript transcript{words};
  const std::vector<std::string> lines = {"We start with the footage as it was recorded.",
                                          "The rough cut comes together.", "Nothing like this was said.",
                                          "We start with 2 footage."};
  std::vector<BeatResult> alone;
  std::string repeated;
  for (const auto& line : lines) alone.push_back(ScriptCoverage::assess(line, transcript, keepAll(20)).at(0));
  for (int round = 0; round < 50; ++round)
    for (const auto& line : lines) repeated += line + "\n";

  const auto results = ScriptCoverage::assess(repeated, transcript, keepAll(20));
  ASSERT_EQ(results.size(), 200u);
  for (std::size_t i = 0; i < results.size(); ++i) {
    const BeatResult& expected = alone[i % lines.size()];
    EXPECT_EQ(results[i].text, expected.text) << i;
    EXPECT_EQ(results[i].status, expected.status) << i;
    EXPECT_DOUBLE_EQ(results[i].score, expected.score) << i;
    EXPECT_EQ(results[i].matchTime, expected.matchTime) << i;
  }
  EXPECT_EQ(alone[0].status, Status::covered);
  EXPECT_EQ(alone[2].status, Status::missing);
}
