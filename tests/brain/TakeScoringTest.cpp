#include "kestrane/brain/TakeScoring.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "brain/TestUtterances.hpp"
#include "kestrane/brain/RunSelector.hpp"

namespace kestrane {
namespace {

using namespace TakeSelector;
using testing::toks;
using testing::utterance;
using testing::silence;
using testing::word;

TEST(TakeScoring, ScriptMeasures) {
  std::vector<TokenList> beats{toks("we ship the demo today"), toks("nothing alike here at all")};
  EXPECT_DOUBLE_EQ(scriptMatchCoverage(toks("so we ship the demo"), beats), 0.8);
  EXPECT_DOUBLE_EQ(scriptRenditionScore(toks("so we ship the demo"), beats), 0.8 * 0.8);
  EXPECT_EQ(scriptMatchCoverage({}, beats), 0.0);
  EXPECT_EQ(scriptMatchCoverage(toks("we ship"), {}), 0.0);
  // Below an alignment score of 0.5 a beat does not count.
  EXPECT_EQ(scriptMatchCoverage(toks("ship it to everyone on monday morning please"), beats), 0.0);
}

TEST(TakeScoring, PenaltiesAndQuality) {
  EXPECT_EQ(disfluencyCount(utterance(0, "um so so the plan", 0, 2)), 2);
  EXPECT_EQ(disfluencyCount(utterance(0, "so so so", 0, 2)), 2);

  EXPECT_EQ(internalRestarts(toks("x a b a b e f c d c d g h")), (std::vector<int>{3, 9}));
  EXPECT_DOUBLE_EQ(restartPenalty(toks("x a b a b e f c d c d g h")), 1.3);
  auto late = toks("p q r s t u v a b a b c d c d e f e f g h g h i j");
  EXPECT_EQ(internalRestarts(late), (std::vector<int>{9, 13, 17, 21}));
  EXPECT_DOUBLE_EQ(restartPenalty(late), 2.0);

  auto u = utterance(0, "a long line with pauses in it.", 0, 10);
  EXPECT_EQ(pausePenalty(u, std::vector{silence(5, 6)}), 0.0);
  EXPECT_DOUBLE_EQ(pausePenalty(u, std::vector{silence(3, 4), silence(5, 6)}), 0.4);
  EXPECT_EQ(pausePenalty(u, std::vector{silence(0.1, 1), silence(5, 6)}), 0.0);  // too close to the start
  std::vector<SilenceSpan> many;
  for (int k = 1; k <= 8; ++k) many.push_back(silence(k, k + 0.5));
  EXPECT_DOUBLE_EQ(pausePenalty(u, many), 2.0);

  // A clean, finished, longest rendition: 2 x (0.6 + 0.4), and 3 more when
  // it delivers a script beat completely.
  auto clean = utterance(1, "we ship the demo today.", 0, 2);
  EXPECT_DOUBLE_EQ(RunSelector::quality(clean, {}, {}, 5), 2.0);
  EXPECT_DOUBLE_EQ(RunSelector::quality(clean, scriptBeats("We ship the demo today."), {}, 5), 5.0);
  // Half the group's longest length, no ending, two fillers.
  auto rough = utterance(2, "um we uh ship", 0, 2);
  EXPECT_DOUBLE_EQ(RunSelector::quality(rough, {}, {}, 8), 2 * (0.4 * 4 / 8) - 2 * (2.0 / 3.0));
}

TEST(TakeScoring, WinnerTiesPositionBonusAndSingleMembers) {
  auto first = utterance(4, "we ship the demo today.", 0, 2);
  auto second = utterance(7, "we ship the demo now.", 5, 7);
  ScoreMap scores;
  auto winner = pickWinner(std::vector{first, second}, {}, {}, &scores);
  EXPECT_EQ(winner.index, 7);
  EXPECT_DOUBLE_EQ(scores.at(4), 2.0);
  EXPECT_DOUBLE_EQ(scores.at(7), 2.5);

  auto third = utterance(9, "we ship the demo later.", 9, 11);
  pickWinner(std::vector{first, second, third}, {}, {}, &scores);
  EXPECT_DOUBLE_EQ(scores.at(7), 2.25);
  EXPECT_DOUBLE_EQ(scores.at(9), 2.5);

  // With a script the earlier, script-true take beats the bonus.
  auto scripted = pickWinner(std::vector{first, second}, scriptBeats("We ship the demo today."), {}, &scores);
  EXPECT_EQ(scripted.index, 4);
  EXPECT_DOUBLE_EQ(scores.at(4), 5.0);

  auto alone = pickWinner(std::vector{second}, {}, {});
  EXPECT_EQ(alone.index, 7);
  EXPECT_EQ(alone.tokens, second.tokens);
  EXPECT_FALSE(completeRendition(second, std::vector{second}, {}, {}).has_value());
  EXPECT_THROW(pickWinner(std::vector<Utterance>{}, {}, {}), std::invalid_argument);
}

TEST(TakeScoring, CompleteRenditionReplacesAShortWinnerWithoutScript) {
  // The fillers sink the long take; the short one wins on quality.
  auto complete = utterance(0, "um the plan is to ship it um uh.", 0, 4);
  auto shortTake = utterance(1, "the plan is to", 6, 7);
  std::vector members{complete, shortTake};
  ScoreMap scores;
  EXPECT_EQ(pickWinner(members, {}, {}, &scores).index, 0);
  EXPECT_GT(scores.at(1), scores.at(0));
  // With a script the quality winner stands.
  EXPECT_EQ(pickWinner(members, {toks("nothing to do with it")}, {}).index, 1);
  // Three inner pauses disqualify the long take.
  std::vector pauses{silence(0.5, 0.8), silence(1.5, 1.8), silence(2.5, 2.8)};
  EXPECT_EQ(pickWinner(members, {}, pauses).index, 1);
  // A long take that never finishes does not complete anything.
  auto hanging = utterance(0, "um the plan is to ship it to and", 0, 4);
  EXPECT_EQ(pickWinner(std::vector{hanging, shortTake}, {}, {}).index, 1);

  // A member that is itself the start of a longer member never completes;
  // the longer one does, whatever the scores.
  auto opener = utterance(0, "the plan", 0, 1);
  auto partial = utterance(1, "the plan is to ship.", 2, 4);
  auto full = utterance(2, "the plan is to ship it to everyone next week.", 5, 9);
  auto chosen = completeRendition(opener, std::vector{opener, partial, full}, {}, ScoreMap{{1, 9.0}, {2, 1.0}});
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->index, 2);
  // Equal scores: the later candidate.
  auto again = utterance(3, "the plan is to ship it to everyone next week.", 10, 14);
  chosen = completeRendition(opener, std::vector{opener, full, again}, {}, {});
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->index, 3);
  // One token is too short to have a completion.
  EXPECT_FALSE(completeRendition(utterance(0, "the", 0, 1), std::vector{opener, full}, {}, {}).has_value());
}

TEST(TakeScoring, ReasonsSnippetsAndPayoffs) {
  std::vector members{utterance(3, "a b c d", 0, 1), utterance(5, "a b c d", 2, 3), utterance(8, "a b c d", 4, 5)};
  EXPECT_EQ(takeReason(members[0], members, members[2]), "take 1 of 3; kept take 3");
  EXPECT_EQ(takeReason(utterance(99, "x", 0, 1), members, members[1]), "take 1 of 3; kept take 2");

  EXPECT_EQ(snippet(utterance(0, "one two three four five six", 0, 1)), "one two three four five six");
  EXPECT_EQ(snippet(utterance(0, "One, two three four five six seven.", 0, 1)), "One, two three four five six\u2026");

  EXPECT_EQ(payoffToken(utterance(0, "we ship it and", 0, 1)), "ship");
  EXPECT_EQ(payoffToken(utterance(0, "so um", 0, 1)), std::nullopt);
  EXPECT_EQ(payoffToken(utterance(0, "the caf\u00E9 so", 0, 1)), "caf\u00E9");
}

// Quiet words sit inside long silences (spoken below the floor); the island
// is the audible stretch between two quiet stretches.
std::vector<TranscriptWord> conversation(int quietBefore, const std::string& island, double gapAfter) {
  std::vector<TranscriptWord> words;
  double t = 10.2 - 0.5 * quietBefore;
  for (int k = 0; k < quietBefore; ++k, t += 0.5) words.push_back(word("mm", t, t + 0.4));
  t = 10.5;
  std::istringstream in(island);
  for (std::string w; in >> w; t += 0.5) words.push_back(word(w, t, t + 0.4));
  t += gapAfter - 0.1;
  for (int k = 0; k < 3; ++k, t += 0.5) words.push_back(word("hm", t, t + 0.4));
  return words;
}

TEST(TakeScoring, ChatterIslands) {
  std::vector quiet{silence(0, 10), silence(13.0, 40)};
  auto found = chatterIslands(conversation(3, "what time is it", 1.0), quiet, {});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].start, 10.5);
  EXPECT_DOUBLE_EQ(found[0].end, 12.4);

  EXPECT_TRUE(chatterIslands(conversation(2, "what time is it", 1.0), quiet, {}).empty());
  EXPECT_TRUE(chatterIslands(conversation(3, "what", 1.0), quiet, {}).empty());
  EXPECT_TRUE(chatterIslands(conversation(3, "a b c d e f g h i j k l m", 1.0),
                             std::vector{silence(0, 10), silence(18.0, 50)}, {})
                  .empty());
  EXPECT_TRUE(chatterIslands(conversation(3, "what time is it", 3.5), quiet, {}).empty());
  EXPECT_TRUE(chatterIslands(conversation(3, "what time is it", 1.0), std::vector<SilenceSpan>{}, {}).empty());
  // The island lies on the script: it is a line, not chatter.
  EXPECT_TRUE(chatterIslands(conversation(3, "what time is it", 1.0), quiet, {toks("so what time is it now")}).empty());
}

}  // namespace
}  // namespace kestrane
