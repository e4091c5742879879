#include "kestrane/brain/SimilarityIndex.hpp"

#include <algorithm>
#include <iterator>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

namespace kestrane {
namespace {

using TakeSelector::Utterance;

// Short lines from a small vocabulary with near-miss spellings, so exact,
// near and missing matches, shared openings and trigrams all occur often.
std::vector<Utterance> randomLines(unsigned seed, int count) {
  const std::vector<std::string> vocabulary{
      "the",    "we",      "ship",   "a",         "demo",    "today",    "plan",       "plans",   "planning",
      "talked", "walked",  "record", "recording", "records", "café",     "cafe\u0301", "launch",  "launches",
      "so",     "and",     "it",     "works",     "working", "worked",   "budget",     "budgets", "néar",
      "review", "reviews", "viewer", "interview", "quarter", "quarterly"};
  std::mt19937 random(seed);
  std::vector<Utterance> utts;
  for (int k = 0; k < count; ++k) {
    int length = 1 + static_cast<int>(random() % 9);
    std::string text;
    for (int w = 0; w < length; ++w) text += (w ? " " : "") + vocabulary[random() % vocabulary.size()];
    // Every few lines repeat an earlier line with a change, as retakes do.
    if (k > 0 && random() % 3 == 0) {
      text = utts[random() % utts.size()].words.front().text + " " + text;
    }
    utts.push_back(testing::utterance(k, text + ".", 5.0 * k, 5.0 * k + 4));
  }
  return utts;
}

TEST(SimilarityIndex, BoundsNeverRuleOutAPairThatReachesTheThreshold) {
  for (unsigned seed : {1u, 2u, 3u}) {
    auto utts = randomLines(seed, 90);
    SimilarityIndex index(utts);
    for (double threshold : {0.4, 0.5, 0.58, 0.75}) {
      for (int a = 0; a < index.size(); ++a) {
        auto partners = index.partnersAfter(a, threshold);
        EXPECT_TRUE(std::is_sorted(partners.begin(), partners.end()));
        for (int b = 0; b < index.size(); ++b) {
          if (a == b) continue;
          double aware = TakeSelector::openingAwareSimilarity(utts[a].tokens, utts[b].tokens);
          double retake = TakeSelector::retakeSimilarity(utts[a], utts[b]);
          ASSERT_EQ(index.openingAwareAtLeast(a, b, threshold), aware >= threshold) << a << " " << b;
          ASSERT_EQ(index.retakeAtLeast(a, b, threshold), retake >= threshold) << a << " " << b;
          if (b > a && aware >= threshold) {
            ASSERT_TRUE(std::binary_search(partners.begin(), partners.end(), b)) << a << " " << b;
          }
        }
        // Asked from a later position on, the list is the same list without the earlier ones.
        const int from = (a * 7) % index.size();
        std::vector<int> later;
        for (int p : partners)
          if (p >= from) later.push_back(p);
        ASSERT_EQ(index.partnersAfter(a, threshold, from), later) << a << " from " << from;
      }
    }
  }
}

TEST(SimilarityIndex, RenditionListsMatchTheDefinition) {
  auto utts = randomLines(4, 120);
  SimilarityIndex index(utts);
  for (int a = 0; a < index.size(); ++a) {
    std::vector<std::pair<double, int>> expected;
    for (int b = 0; b < index.size(); ++b) {
      const auto& x = utts[a].tokens;
      const auto& y = utts[b].tokens;
      if (b == a || x.size() <= 3 || y.size() <= 3) continue;
      std::set<std::string> p(x.begin(), x.end()), q(y.begin(), y.end()), common;
      std::set_intersection(p.begin(), p.end(), q.begin(), q.end(), std::inserter(common, common.end()));
      double overlap = static_cast<double>(common.size()) /
                       static_cast<double>(std::max<std::size_t>(1, std::min(p.size(), q.size())));
      if ((overlap >= 0.35 || TakeSelector::sharesOpening(x, y)) && TakeSelector::openingAwareSimilarity(x, y) >= 0.5)
        expected.emplace_back(utts[b].range.start, b);
    }
    ASSERT_EQ(index.renditionsOf(a), expected) << a;
  }
}

TEST(SimilarityIndex, RenditionsOfOneLine) {
  std::vector<Utterance> utts{
      testing::utterance(0, "first measure each board twice before cutting.", 0, 4),
      testing::utterance(1, "first measure every board twice before cutting.", 100, 104),
      testing::utterance(2, "then sand the edges until smooth.", 200, 204),
      testing::utterance(3, "first measure each.", 300, 304),
      testing::utterance(0, "first measure each board twice before cutting.", 400, 404),
  };
  SimilarityIndex index(utts);
  EXPECT_TRUE(index.isRendition(0, 1));
  EXPECT_FALSE(index.isRendition(0, 2));
  EXPECT_FALSE(index.isRendition(0, 3));  // three tokens are too few
  EXPECT_TRUE(index.hasRenditionNear(0, 150, 50));
  EXPECT_FALSE(index.hasRenditionNear(0, 160, 50));  // starts 60 s away
  // The same utterance index is never its own rendition, wherever it lies.
  EXPECT_FALSE(index.hasRenditionNear(0, 400, 10));
  EXPECT_DOUBLE_EQ(index.overlap(0, 3), 1.0);
  EXPECT_DOUBLE_EQ(index.overlap(0, 2), 0.0);
}

}  // namespace
}  // namespace kestrane
