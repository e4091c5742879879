#pragma once
// Local alignment of many short token lists (script beats) against one long list (the words
// of a whole cut) at a gap score of -0.5, with the same result as TextAlign::localAlign.
//
// With that gap a mismatch costs as much as two gaps, so an alignment's score depends only on
// the matching pairs it passes through and on how far it moves between them. The best cell is
// therefore found from the matching pairs alone (a sparse chain over posting lists), and only
// the few columns an alignment ending there can span are handed to the toolkit, which gives
// the alignment itself.
#include <map>
#include <unordered_map>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/brain/TokenTypes.hpp"

namespace kestrane {

class LongTokenAligner {
 public:
  static constexpr double gap = -0.5;

  explicit LongTokenAligner(TextAlign::TokenList longList);

  // TextAlign::localAlign(shortList, longList, gap). A list asked for again is answered from
  // memory: a script that says its lines over and over is aligned once per distinct line.
  TextAlign::LocalAlignment align(const TextAlign::TokenList& shortList);

  const TextAlign::TokenList& longList() const { return long_; }

 private:
  // +4 equal, +2 near match, -2 otherwise: pair scores in half points.
  int pairHalves(int x, int y) const;
  TextAlign::LocalAlignment alignAfresh(const TextAlign::TokenList& shortList);
  // Ids of the long list's tokens that score positively against x.
  const std::vector<int>& partnersOf(int x);

  TextAlign::TokenList long_;
  TextAlign::TokenTypes types_;
  std::vector<std::vector<int>> postings_;  // long-list token id -> ascending positions
  std::vector<std::vector<int>> byLength_;  // character count -> long-list ids of at least 4 characters
  std::map<TextAlign::TokenTypes::Head, std::vector<int>> byHead_;  // first four characters -> long-list ids
  std::unordered_map<int, std::vector<int>> partners_;
  std::map<TextAlign::TokenList, TextAlign::LocalAlignment> answered_;
};

}  // namespace kestrane
