#include "kestrane/brain/LongTokenAligner.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace kestrane;

namespace {

std::string show(const TextAlign::LocalAlignment& a) {
  return std::to_string(a.score) + " a" + std::to_string(a.aRange.lowerBound) + ".." +
         std::to_string(a.aRange.upperBound) + " b" + std::to_string(a.bRange.lowerBound) + ".." +
         std::to_string(a.bRange.upperBound) + " m" + std::to_string(a.matchCount);
}

}  // namespace

// The aligner must agree with the toolkit exactly, ties and near matches included.
TEST(LongTokenAligner, AgreesWithTheToolkit) {
  // Exact and near matches of every kind: shared first four characters at any length, one or
  // two edits, short words that are never near, and accented forms in both normalisations.
  const std::vector<std::string> vocabulary{"the",         "a",      "we",         "cat",    "cats",
                                            "cut",         "talked", "walked",     "walk",   "recording",
                                            "recordings",  "record", "flaw",       "lawn",   "launch",
                                            "launches",    "café",   "cafe\u0301", "cafés",  "ship",
                                            "shipping",    "demo",   "demos",      "memo",   "today",
                                            "toady",       "x",      "cafes",      "resume", "r\u00e9sum\u00e9",
                                            "stra\u00dfe", "strasse"};
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> pick(0, vocabulary.size() - 1);
  std::uniform_int_distribution<int> shortLength(1, 9), longLength(0, 160);
  for (int round = 0; round < 300; ++round) {
    TextAlign::TokenList longList;
    for (int k = longLength(rng); k > 0; --k) longList.push_back(vocabulary[pick(rng)]);
    LongTokenAligner aligner(longList);
    for (int q = 0; q < 8; ++q) {
      TextAlign::TokenList shortList;
      for (int k = shortLength(rng); k > 0; --k) shortList.push_back(vocabulary[pick(rng)]);
      auto expected = TextAlign::localAlign(shortList, longList, -0.5);
      auto got = aligner.align(shortList);
      ASSERT_EQ(show(got), show(expected)) << "round " << round << " query " << q;
      ASSERT_EQ(got, expected);
    }
  }
  EXPECT_EQ(LongTokenAligner({}).align({"we"}), TextAlign::LocalAlignment{});
  EXPECT_EQ(LongTokenAligner({"we"}).align({}), TextAlign::LocalAlignment{});
}

// A line delivered inside a long transcript is found where it was said.
TEST(LongTokenAligner, FindsALineFarIntoALongList) {
  TextAlign::TokenList longList;
  for (int k = 0; k < 5000; ++k) longList.push_back(k % 7 == 0 ? "the" : "filler" + std::to_string(k % 13));
  const TextAlign::TokenList line{"we", "ship", "the", "demo", "today"};
  longList.insert(longList.begin() + 4000, line.begin(), line.end());
  auto alignment = LongTokenAligner(longList).align(line);
  EXPECT_EQ(alignment, TextAlign::localAlign(line, longList, -0.5));
  EXPECT_EQ(alignment.bRange, (TextAlign::TokenRange{4000, 4005}));
  EXPECT_EQ(alignment.matchCount, 5);
}
