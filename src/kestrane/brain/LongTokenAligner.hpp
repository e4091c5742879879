#pragma once
// Local alignment of many short token lists (script beats) against one long list (the words
// of a whole cut) at a gap score of -0.5, with the same result as TextAlign::localAlign.
//
// With that gap a mismatch costs as much as two gaps, so an alignment's score depends only on
// the matching pairs it passes through and on how far it moves between them. The best cell is
// therefore found from the matching pairs alone (a sparse chain over posting lists), and only
// the few columns an alignment ending there can span are handed to the toolkit, which gives
// the alignment itself.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"

namespace kestrane {

class LongTokenAligner {
 public:
  static constexpr double gap = -0.5;

  explicit LongTokenAligner(TextAlign::TokenList longList);

  // TextAlign::localAlign(shortList, longList, gap).
  TextAlign::LocalAlignment align(const TextAlign::TokenList& shortList);

  const TextAlign::TokenList& longList() const { return long_; }

 private:
  struct TokenType {
    std::vector<int> characters;  // grapheme ids
    std::uint64_t mask = 0;       // which character ids occur, folded to 64 bits
  };

  using Head = std::array<int, 4>;
  static Head headOf(const std::vector<int>& characters) {
    return {characters[0], characters[1], characters[2], characters[3]};
  }

  int intern(const std::string& token);
  // +4 equal, +2 near match, -2 otherwise: pair scores in half points.
  int pairHalves(int x, int y) const;
  // Ids of the long list's tokens that score positively against x.
  const std::vector<int>& partnersOf(int x);

  TextAlign::TokenList long_;
  std::unordered_map<std::string, int> ids_;
  std::unordered_map<std::string, int> characterIds_;
  std::vector<TokenType> types_;
  std::vector<std::vector<int>> postings_;  // long-list token id -> ascending positions
  std::vector<std::vector<int>> byLength_;  // character count -> long-list ids of at least 4 characters
  std::map<Head, std::vector<int>> byHead_;  // first four characters -> long-list ids
  std::unordered_map<int, std::vector<int>> partners_;
};

}  // namespace kestrane
