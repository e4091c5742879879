#include "kestrane/brain/TextAlign.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>

#include "brain/TestUtterances.hpp"
#include "kestrane/brain/TextAlignDetail.hpp"

namespace kestrane {
namespace {

using testing::toks;
using TL = TextAlign::TokenList;

TEST(TextAlign, TokensLowerCaseSplitAndTrimPunctuation) {
  EXPECT_EQ(toks("Well, I \u2014 don't know..."), (TL{"well", "i", "don't", "know"}));
  EXPECT_TRUE(toks("").empty());
  EXPECT_TRUE(toks(" \n\r\t  \u00A0").empty());
  EXPECT_EQ(toks("Take TWO!"), (TL{"take", "two"}));
  // Tab-indented script lines must not glue words together.
  EXPECT_EQ(toks("\tfirst\tsecond\t"), (TL{"first", "second"}));
  // No-break space, next line and line separator split too.
  EXPECT_EQ(toks("a\u00A0b\u0085c\u2028d"), (TL{"a", "b", "c", "d"}));
  // Inner punctuation and symbols stay; typographic apostrophes are not folded.
  EXPECT_EQ(toks("rock'n'roll well-known \u201Cdon\u2019t\u201D $5 +3 \u00ABoui\u00BB (x)"),
            (TL{"rock'n'roll", "well-known", "don\u2019t", "$5", "+3", "oui", "x"}));
  // Canonically equivalent spellings give the same token; non-ASCII lower-casing.
  EXPECT_EQ(toks("CAFE\u0301"), toks("caf\u00E9"));
  EXPECT_EQ(toks("\u00C9COLE \u0130"), (TL{"\u00E9cole", "i\u0307"}));
}

TEST(TextAlign, JaccardOverTrigrams) {
  EXPECT_EQ(TextAlign::jaccard(TL{}, TL{}), 0.0);
  EXPECT_EQ(TextAlign::jaccard(TL{"take", "two"}, TL{"two", "take"}), 1.0);
  EXPECT_EQ(TextAlign::jaccard(TL{"a", "b", "c", "d"}, TL{"a", "b", "c"}), 0.5);
  EXPECT_EQ(TextAlign::jaccard(TL{"a", "b"}, TL{"a", "b", "c"}), 0.0);
  EXPECT_EQ(TextAlign::jaccard(TL{"caf\u00E9", "x"}, TL{"cafe\u0301", "x"}), 1.0);
}

TEST(TextAlign, EditDistanceCountsCharacters) {
  EXPECT_EQ(TextAlign::editDistance("", "abc"), 3);
  EXPECT_EQ(TextAlign::editDistance("abc", ""), 3);
  EXPECT_EQ(TextAlign::editDistance("flaw", "lawn"), 2);
  EXPECT_EQ(TextAlign::editDistance("kitten", "sitting"), 3);
  // A combining accent belongs to its letter: one substitution, not an insertion.
  EXPECT_EQ(TextAlign::editDistance("cafe\u0301", "cafe"), 1);
  EXPECT_EQ(TextAlign::editDistance("cafe\u0301", "caf\u00E9"), 0);
  EXPECT_EQ(TextAlign::characterCount("cafe\u0301"), 4);
  EXPECT_EQ(TextAlign::characterCount("\U0001F1EB\U0001F1F7!"), 2);
  // With a limit the distance stops early, but never reports less than the limit allows.
  using TextAlign::detail::editDistance;
  EXPECT_EQ(editDistance(std::string_view("kitten"), std::string_view("sitting"), 1), 2);
  EXPECT_EQ(editDistance(std::string_view("kitten"), std::string_view("sitting"), 3), 3);
  EXPECT_EQ(editDistance(std::string_view(""), std::string_view("abcd"), 2), 3);
  const std::vector<int> walked{1, 2, 3, 4, 5, 6}, talked{7, 2, 3, 4, 5, 6};
  EXPECT_EQ(editDistance(std::span<const int>(walked), std::span<const int>(talked), 2), 1);
}

TEST(TextAlign, LimitedEditDistanceAgreesWithTheFullOneAtAnyLength) {
  // The limited distance computes a band around the diagonal only; capped at the limit it
  // must say what the whole matrix says, for short words and for absurdly long ones.
  using TextAlign::detail::editDistance;
  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t length = round % 100 == 0 ? 2000 : random() % 12;
    std::string a;
    for (std::size_t k = 0; k < length; ++k) a += static_cast<char>('a' + random() % 3);
    std::string b = a;
    for (int edits = static_cast<int>(random() % 5); edits > 0 && !b.empty(); --edits) {
      const std::size_t at = random() % b.size();
      switch (random() % 3) {
        case 0: b.erase(at, 1); break;
        case 1: b.insert(at, 1, 'c'); break;
        default: b[at] = 'b';
      }
    }
    if (round % 7 == 0) b = b.substr(0, b.size() / 2);
    const int full = editDistance(std::string_view(a), std::string_view(b));
    for (int limit : {0, 1, 2, 3}) {
      ASSERT_EQ(editDistance(std::string_view(a), std::string_view(b), limit), std::min(full, limit + 1))
          << a << " / " << b << " limit " << limit;
    }
  }
}

TEST(TextAlign, LocalAlignmentScoresRangesAndMatches) {
  EXPECT_EQ(TextAlign::localAlign(TL{"a"}, TL{}), TextAlign::LocalAlignment{});
  EXPECT_EQ(TextAlign::localAlign(TL{}, TL{"a"}), TextAlign::LocalAlignment{});
  EXPECT_EQ(TextAlign::localAlign(TL{"red", "sky"}, TL{"blue", "sea"}), TextAlign::LocalAlignment{});

  TL same{"we", "ship", "the", "demo", "today"};
  auto identical = TextAlign::localAlign(same, same);
  EXPECT_EQ(identical.score, 1.0);
  EXPECT_EQ(identical.aRange, (TextAlign::TokenRange{0, 5}));
  EXPECT_EQ(identical.bRange, (TextAlign::TokenRange{0, 5}));
  EXPECT_EQ(identical.matchCount, 5);

  // Worked example: a mismatch crossed diagonally adds no match.
  auto worked = TextAlign::localAlign(TL{"we", "ship", "the", "demo"}, TL{"so", "we", "ship", "a", "demo"}, -1.0);
  EXPECT_DOUBLE_EQ(worked.score, 0.625);
  EXPECT_EQ(worked.aRange, (TextAlign::TokenRange{0, 4}));
  EXPECT_EQ(worked.bRange, (TextAlign::TokenRange{1, 5}));
  EXPECT_EQ(worked.matchCount, 3);

  // Contained contiguously in a longer list: full score.
  EXPECT_EQ(TextAlign::localAlign(TL{"ship", "the"}, TL{"we", "ship", "the", "demo"}).score, 1.0);

  // Near matches count like exact ones; short words never near-match.
  auto near = TextAlign::localAlign(TL{"we", "talked", "recording"}, TL{"we", "walked", "recordings"});
  EXPECT_DOUBLE_EQ(near.score, 4.0 / 6.0);
  EXPECT_EQ(near.matchCount, 3);
  EXPECT_DOUBLE_EQ(TextAlign::localAlign(TL{"cat"}, TL{"cats"}).score, 0.0);
  EXPECT_EQ(TextAlign::localAlign(TL{"launch", "x"}, TL{"launches", "y"}).matchCount, 1);
  // Accented and plain spellings within two edits are near matches as well.
  EXPECT_DOUBLE_EQ(TextAlign::localAlign(TL{"caf\u00e9s"}, TL{"cafes"}).score, 0.5);
  EXPECT_DOUBLE_EQ(TextAlign::localAlign(TL{"resume"}, TL{"r\u00e9sum\u00e9"}).score, 0.5);
  EXPECT_DOUBLE_EQ(TextAlign::localAlign(TL{"na\u00efve", "x"}, TL{"naive", "y"}).score, 0.25);

  // Ties end the alignment at the earliest cell: smaller a index, then b index.
  EXPECT_EQ(TextAlign::localAlign(TL{"alpha", "zzzz"}, TL{"alpha", "qqqq", "alpha"}).bRange,
            (TextAlign::TokenRange{0, 1}));
  EXPECT_EQ(TextAlign::localAlign(TL{"alpha", "qqqq", "alpha"}, TL{"alpha"}).aRange, (TextAlign::TokenRange{0, 1}));

  // The coverage report's softer gap bridges an extra word.
  auto bridged = TextAlign::localAlign(TL{"we", "ship", "it"}, TL{"we", "really", "ship", "it"}, -0.5);
  EXPECT_DOUBLE_EQ(bridged.score, 5.5 / 6.0);
  EXPECT_EQ(bridged.bRange, (TextAlign::TokenRange{0, 4}));
}

// The matrix exactly as described, in doubles, to check the compact and
// checkpointed variants against.
TextAlign::LocalAlignment referenceAlign(const TL& a, const TL& b, double gap) {
  if (a.empty() || b.empty()) return {};
  auto s = [](const std::string& x, const std::string& y) {
    if (x == y) return 2.0;
    int lx = TextAlign::characterCount(x), ly = TextAlign::characterCount(y);
    if (lx >= 4 && ly >= 4 &&
        (x.substr(0, 4) == y.substr(0, 4) || (std::abs(lx - ly) <= 2 && TextAlign::editDistance(x, y) <= 2)))
      return 1.0;
    return -1.0;
  };
  std::vector<std::vector<double>> h(a.size() + 1, std::vector<double>(b.size() + 1, 0.0));
  double best = 0;
  std::size_t bi = 0, bj = 0;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      h[i][j] = std::max({0.0, h[i - 1][j - 1] + s(a[i - 1], b[j - 1]), h[i - 1][j] + gap, h[i][j - 1] + gap});
      if (h[i][j] > best) best = h[i][j], bi = i, bj = j;
    }
  std::size_t i = bi, j = bj;
  int count = 0;
  while (i >= 1 && j >= 1 && h[i][j] > 0) {
    double pair = s(a[i - 1], b[j - 1]);
    if (h[i][j] == h[i - 1][j - 1] + pair) {
      count += pair >= 1 ? 1 : 0;
      --i, --j;
    } else if (h[i][j] == h[i - 1][j] + gap) {
      --i;
    } else if (h[i][j] == h[i][j - 1] + gap) {
      --j;
    } else {
      break;
    }
  }
  if (best <= 0) return {};
  return {std::min(1.0, best / (2.0 * static_cast<double>(std::min(a.size(), b.size())))),
          {static_cast<int>(i), static_cast<int>(bi)},
          {static_cast<int>(j), static_cast<int>(bj)},
          count};
}

TEST(TextAlign, CompactAndCheckpointedAlignmentMatchTheFullMatrix) {
  // A small vocabulary with near matches makes ties and mixed tracebacks common.
  const TL vocabulary{"the", "plan", "plans", "planet", "ship", "shipping", "demo", "talked", "walked", "is", "a"};
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    TL a(1 + random() % 30), b(1 + random() % 30);
    for (auto& t : a) t = vocabulary[random() % vocabulary.size()];
    for (auto& t : b) t = vocabulary[random() % vocabulary.size()];
    for (double gap : {-1.0, -0.5, -0.3}) {
      auto expected = referenceAlign(a, b, gap);
      SCOPED_TRACE(::testing::Message() << "round " << round << " gap " << gap);
      EXPECT_EQ(TextAlign::localAlign(a, b, gap), expected);
      EXPECT_EQ(TextAlign::detail::localAlign(a, b, gap, 8), expected);  // checkpointed traceback
    }
  }
  // Long lists take the memoised pair path.
  TL a(300), b(280);
  for (auto& t : a) t = vocabulary[random() % vocabulary.size()];
  for (std::size_t k = 0; k < b.size(); ++k) b[k] = k % 7 == 0 ? "demo" : a[(k + 40) % a.size()];
  auto expected = referenceAlign(a, b, -1.0);
  EXPECT_GT(expected.matchCount, 100);
  EXPECT_EQ(TextAlign::localAlign(a, b, -1.0), expected);
  EXPECT_EQ(TextAlign::detail::localAlign(a, b, -1.0, 1000), expected);
}

TEST(TextAlign, AbortedPrefix) {
  TL line{"the", "plan", "is", "to", "ship", "it"};
  EXPECT_TRUE(TextAlign::isAbortedPrefix(TL{"the", "plan", "is"}, line));
  EXPECT_FALSE(TextAlign::isAbortedPrefix(TL{"the"}, line));
  // Four tokens need a line of at least six.
  EXPECT_TRUE(TextAlign::isAbortedPrefix(TL{"the", "plan", "is", "to"}, line));
  EXPECT_FALSE(TextAlign::isAbortedPrefix(TL{"the", "plan", "is", "to"}, TL{"the", "plan", "is", "to", "ship"}));
  // The matching part must start within the first two tokens of both.
  EXPECT_TRUE(TextAlign::isAbortedPrefix(TL{"so", "the", "plan", "is"}, line));
  TL full{"the", "plan", "is", "to", "ship", "it", "now", "for", "all", "of", "you"};
  EXPECT_FALSE(TextAlign::isAbortedPrefix(TL{"um", "so", "the", "plan", "is", "to", "ship"}, full));
  // A score of exactly 0.7 is enough.
  TL ten{"one", "two", "three", "four", "five", "six", "seven", "xxxx", "yyyy", "zzzz"};
  TL longer{"one",  "two",  "three", "four", "five", "six",  "seven", "gggg",
            "hhhh", "iiii", "jjjj",  "kkkk", "llll", "mmmm", "nnnn"};
  EXPECT_TRUE(TextAlign::isAbortedPrefix(ten, longer));
  ten[6] = "qqqq";
  EXPECT_FALSE(TextAlign::isAbortedPrefix(ten, longer));
}

}  // namespace
}  // namespace kestrane
