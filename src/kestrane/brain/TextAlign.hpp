#pragma once
// The one text-comparison toolkit: tokens, n-gram similarity, edit distance,
// local alignment and the aborted-prefix test. Pure functions, no state.
//
// Texts are equal when they are canonically equivalent; tokens() hands out
// NFC text so equal tokens are equal byte strings, but every comparison here
// also accepts tokens that were not normalised. Word lengths count extended
// grapheme clusters.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::TextAlign {

using TokenList = std::vector<std::string>;
using Tokens = std::span<const std::string>;

// Half-open range of token positions.
struct TokenRange {
  int lowerBound = 0;
  int upperBound = 0;

  int count() const { return upperBound - lowerBound; }
  friend bool operator==(const TokenRange&, const TokenRange&) = default;
};

struct LocalAlignment {
  double score = 0;  // 0...1
  TokenRange aRange;
  TokenRange bRange;
  int matchCount = 0;  // aligned pairs that were exact or near matches

  friend bool operator==(const LocalAlignment&, const LocalAlignment&) = default;
};

// Lower-cased words with the punctuation at their ends trimmed.
TokenList tokens(std::string_view text);

// Jaccard similarity of the sets of n-token runs (of the tokens themselves
// when a list is shorter than n).
double jaccard(Tokens a, Tokens b, int n = 3);

// Levenshtein distance over characters (grapheme clusters).
int editDistance(std::string_view a, std::string_view b);

// Smith-Waterman over tokens with a linear gap score (negative).
LocalAlignment localAlign(Tokens a, Tokens b, double gap = -1.0);

// True when a is an abandoned first attempt at the line b then delivers.
bool isAbortedPrefix(Tokens a, Tokens b);

// Helpers shared by the rest of the decision engine.
bool sameText(std::string_view a, std::string_view b);  // canonical equivalence
std::string canonical(std::string_view text);           // NFC
int characterCount(std::string_view text);              // grapheme clusters

}  // namespace kestrane::TextAlign
