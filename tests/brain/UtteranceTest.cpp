#include "kestrane/brain/Utterance.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "brain/TestUtterances.hpp"

namespace kestrane {
namespace {

using namespace TakeSelector;
using testing::toks;
using testing::utterance;
using testing::silence;
using testing::word;

std::vector<std::string> texts(const Utterance& u) {
  std::vector<std::string> out;
  for (const auto& w : u.words) out.push_back(w.text);
  return out;
}

TEST(Utterances, SplitAtSilencesAndWordGaps) {
  EXPECT_TRUE(utterances(Transcript{}, {}).empty());

  // 0.5 s apart and no silence: one utterance; exactly 0.7 s apart: two.
  Transcript t{{word("Hello", 0.0, 0.5), word("there", 1.0, 1.7), word("again.", 2.4, 3.0)}};
  auto us = utterances(t, {});
  ASSERT_EQ(us.size(), 2u);
  EXPECT_EQ(texts(us[0]), (std::vector<std::string>{"Hello", "there"}));
  EXPECT_EQ(us[0].tokens, (TextAlign::TokenList{"hello", "there"}));
  EXPECT_EQ(us[0].range, (TimeRange{0.0, 1.7}));
  EXPECT_EQ(us[1].index, 1);

  // A silence shorter than 0.7 s never splits by itself.
  Transcript close{{word("a", 0.0, 0.5), word("b", 1.1, 1.5)}};
  EXPECT_EQ(utterances(close, std::vector{silence(0.5, 1.1)}).size(), 1u);

  // A long silence starting 0.05 s before the previous word's end and running
  // into the next word splits; one starting 0.2 s before does not.
  Transcript pair{{word("first", 0.0, 1.0), word("second", 1.5, 2.0)}};
  EXPECT_EQ(utterances(pair, std::vector{silence(0.95, 1.7)}).size(), 2u);
  EXPECT_EQ(utterances(pair, std::vector{silence(0.8, 1.7)}).size(), 1u);
  // Spans in any order are found.
  EXPECT_EQ(utterances(pair, std::vector{silence(5, 9), silence(0.95, 1.7), silence(0.1, 0.9)}).size(), 2u);
}

TEST(Utterances, RestartsSplitChunksAndKeepIndicesConsecutive) {
  Transcript t{{word("Okay.", 0.0, 0.4), word("I", 2.0, 2.1), word("was", 2.1, 2.3), word("I", 2.4, 2.5),
                word("was", 2.5, 2.7), word("going", 2.7, 3.0), word("home.", 3.0, 3.4)}};
  auto us = utterances(t, {});
  ASSERT_EQ(us.size(), 3u);
  EXPECT_EQ(texts(us[1]), (std::vector<std::string>{"I", "was"}));
  EXPECT_EQ(texts(us[2]), (std::vector<std::string>{"I", "was", "going", "home."}));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(us[static_cast<std::size_t>(k)].index, k);
  EXPECT_EQ(us[2].range, (TimeRange{2.4, 3.4}));

  // Fewer than four tokens: never split.
  std::vector<TranscriptWord> shortChunk{word("go", 0, 1), word("go", 1, 2), word("go", 2, 3)};
  EXPECT_EQ(splitAtInternalRestarts(shortChunk).size(), 1u);
  // A word without tokens still belongs to a piece.
  std::vector<TranscriptWord> dashed{word("so", 0, 1), word("the", 1, 2), word("\u2014", 2, 3),
                                     word("so", 3, 4), word("the", 4, 5), word("plan", 5, 6)};
  auto pieces = splitAtInternalRestarts(dashed);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].size(), 3u);
  EXPECT_EQ(pieces[1].size(), 3u);
}

// Every candidate collected for every position, as the rule reads; the
// engine stops collecting early and must find the same restarts.
std::vector<int> referenceRestarts(const std::vector<std::string>& t, const std::vector<bool>& ends) {
  std::vector<int> result;
  const int n = static_cast<int>(t.size());
  if (n < 4) return result;
  auto u = [](int k) { return static_cast<std::size_t>(k); };
  for (int s = 0; s != n - 3;) {
    std::vector<int> candidates;
    for (int i = s; i <= n - 4; ++i) {
      if (t[u(i)] == t[u(i + 2)] && t[u(i + 1)] == t[u(i + 3)]) candidates.push_back(i + 2);
      if (i > n - 6) continue;
      for (int k = i + 3; k <= n - 3; ++k) {
        bool second = t[u(k + 1)] == t[u(i + 1)], third = t[u(k + 2)] == t[u(i + 2)];
        if (t[u(k)] != t[u(i)] || (!second && !third)) continue;
        if (i == s || (second && third && k < i + 9) || (u(k - 1) < ends.size() && ends[u(k - 1)])) {
          candidates.push_back(k);
          break;
        }
      }
    }
    if (candidates.empty()) break;
    int p = *std::min_element(candidates.begin(), candidates.end());
    result.push_back(p);
    if (p >= n - 3) break;
    s = p;
  }
  return result;
}

TEST(Utterances, InternalRestartPositions) {
  std::mt19937 random(11);
  const std::vector<std::string> vocabulary{"so", "the", "plan", "is", "we", "ship"};
  for (int round = 0; round < 500; ++round) {
    std::vector<std::string> list(random() % 40);
    for (auto& t : list) t = vocabulary[random() % vocabulary.size()];
    std::vector<bool> ends(random() % (list.size() + 1));
    for (std::size_t k = 0; k < ends.size(); ++k) ends[k] = random() % 5 == 0;
    EXPECT_EQ(internalRestarts(list, ends), referenceRestarts(list, ends)) << "round " << round;
  }

  EXPECT_TRUE(internalRestarts(toks("a a a")).empty());
  EXPECT_EQ(internalRestarts(toks("I was I was going home")), std::vector<int>{2});
  EXPECT_EQ(internalRestarts(toks("so the plan is so the plan is to ship")), std::vector<int>{4});
  // Inside the second segment a repeat must be its opening, a full
  // three-word phrase within eight tokens, or follow a sentence end.
  EXPECT_EQ(internalRestarts(toks("so the plan is so the plan is to ship the plan")), std::vector<int>{4});
  EXPECT_EQ(internalRestarts(toks("we go the cat ran off to the cat ran home now")), std::vector<int>{7});
  EXPECT_TRUE(internalRestarts(toks("we go the cat ran a b c d e f the cat ran now ok")).empty());
  auto partial = toks("we go now and then the cat ran off a b c the cat sat x y");
  EXPECT_TRUE(internalRestarts(partial).empty());
  std::vector<bool> ends(12, false);
  ends[11] = true;
  EXPECT_EQ(internalRestarts(partial, ends), std::vector<int>{12});
  // Several restarts come out ascending.
  EXPECT_EQ(internalRestarts(toks("x a b a b e f c d c d g h")), (std::vector<int>{3, 9}));
  // Long inputs stay fast and give the same positions as short ones.
  std::vector<std::string> longList;
  for (int k = 0; k < 4000; ++k) longList.push_back("w" + std::to_string(k));
  EXPECT_TRUE(internalRestarts(longList).empty());
}

TEST(Utterances, SentenceEndingsAndMidRestarts) {
  EXPECT_FALSE(utterance(0, "we should go over there and.", 0, 3).endsLikeSentence());
  EXPECT_TRUE(utterance(0, "we should go there and.", 0, 3).endsLikeSentence());
  EXPECT_FALSE(utterance(0, "he said \"we should go.\"", 0, 3).endsLikeSentence());
  EXPECT_FALSE(utterance(0, "and then\u2026", 0, 3).endsLikeSentence());
  EXPECT_TRUE(utterance(0, "really?", 0, 1).endsLikeSentence());
  EXPECT_FALSE(Utterance{}.endsLikeSentence());

  EXPECT_FALSE(endsMidRestart(toks("so the so the so the")));
  EXPECT_TRUE(endsMidRestart(toks("so the plan is so the plan is to ship it so the")));
  EXPECT_FALSE(endsMidRestart(toks("so the plan is so the plan is to ship it now")));
}

TEST(Utterances, OpeningsAndSimilarity) {
  EXPECT_TRUE(sharesOpening(toks("the plan"), toks("the plan is")));
  EXPECT_FALSE(sharesOpening(toks("the plan"), toks("the idea is")));
  EXPECT_FALSE(sharesOpening(toks("the"), toks("the")));
  EXPECT_TRUE(sharesOpening(toks("the plan is"), toks("the idea is")));
  EXPECT_FALSE(sharesOpening(toks("so the plan"), toks("the plan is")));

  EXPECT_EQ(openingRun(toks("so the plan"), toks("the plan is")), 2);
  EXPECT_EQ(openingRun(toks("the plan is"), toks("the plan is it")), 3);
  EXPECT_EQ(openingRun({}, toks("a")), 0);

  // Two clean, finished renditions are compared on their whole text alone;
  // the opening-aware similarity always adds the bonus for a shared opening.
  auto cleanA = utterance(0, "the plan is to ship the demo today.", 0, 3);
  auto cleanB = utterance(1, "the plan is to launch a new product soon.", 5, 8);
  EXPECT_DOUBLE_EQ(openingPrefixSimilarity(cleanA, cleanB), 0.5);
  EXPECT_DOUBLE_EQ(retakeSimilarity(cleanA, cleanB), 0.5);
  EXPECT_DOUBLE_EQ(openingAwareSimilarity(cleanA.tokens, cleanB.tokens), 0.6);
  // An unfinished rendition gets the bonus; the result is capped at 1.
  auto unfinished = utterance(2, "the plan is to launch a product and", 9, 11);
  auto finished = utterance(3, "the plan is to launch a new version for everyone next week.", 12, 16);
  EXPECT_DOUBLE_EQ(retakeSimilarity(unfinished, finished), 0.85);
  EXPECT_DOUBLE_EQ(openingAwareSimilarity(cleanA.tokens, cleanA.tokens), 1.0);
}

TEST(Utterances, ScriptBeatsSlatesAndPayoffs) {
  auto beats = scriptBeats(
      "# Intro\nHello.\nThis is the first line. And this is the second! Short one\n"
      "\tno punctuation line here\nIs it the last one?");
  EXPECT_EQ(beats, (std::vector<TextAlign::TokenList>{toks("this is the first line"), toks("and this is the second"),
                                                      toks("no punctuation line here"), toks("is it the last one")}));
  EXPECT_TRUE(scriptBeats("").empty());

  EXPECT_TRUE(isSlate(toks("Okay, take two.")));
  EXPECT_TRUE(isSlate(toks("one two three four five six seven eight take two")));
  EXPECT_FALSE(isSlate(toks("one two three four five six seven eight nine take two")));
  EXPECT_FALSE(isSlate(toks("take it from here")));
  EXPECT_TRUE(isSlate(toks("from the top")));
  EXPECT_TRUE(isSlate(toks("Let me try that again")));

  EXPECT_TRUE(containsPayoff(utterance(0, "and then it launches", 0, 1), "launch"));
  EXPECT_TRUE(containsPayoff(utterance(0, "a cat", 0, 1), "cats"));
  EXPECT_FALSE(containsPayoff(utterance(0, "a cat", 0, 1), "cut"));
  EXPECT_TRUE(containsPayoff(utterance(0, "caf\u00E9 time", 0, 1), "cafe\u0301"));
  EXPECT_FALSE(containsPayoff(Utterance{}, "cat"));

  EXPECT_TRUE(isFillerToken("um"));
  EXPECT_FALSE(isFillerToken("umm"));
  EXPECT_TRUE(isTrailingConjunction("cause"));
  EXPECT_EQ(slatePhrases().size(), 11u);
}

}  // namespace
}  // namespace kestrane
