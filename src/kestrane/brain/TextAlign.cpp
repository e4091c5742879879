#include "kestrane/brain/TextAlign.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "kestrane/brain/TextAlignDetail.hpp"
#include "kestrane/brain/UnicodeText.hpp"

// Tokens, trigram similarity and the aborted-prefix test; the alignment
// engine and edit distance live in LocalAlign.cpp.
namespace kestrane::TextAlign {

TokenList tokens(std::string_view text) {
  TokenList result;
  std::string lowered;
  lowered.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) UnicodeText::appendLower(lowered, UnicodeText::next(text, pos));

  // Split at white space, then trim punctuation from both ends of each piece.
  std::size_t pos = 0;
  while (pos < lowered.size()) {
    std::size_t start = pos;
    std::size_t end = pos;
    while (pos < lowered.size()) {
      std::size_t at = pos;
      if (UnicodeText::isWhiteSpace(UnicodeText::next(lowered, pos))) {
        end = at;
        break;
      }
      end = pos;
    }
    std::string_view piece(lowered.data() + start, end - start);
    // Leading punctuation.
    std::size_t first = 0;
    while (first < piece.size()) {
      std::size_t at = first;
      if (!UnicodeText::isPunctuation(UnicodeText::next(piece, at))) break;
      first = at;
    }
    // Trailing punctuation: walk forward remembering where the last
    // non-punctuation character ends.
    std::size_t last = first;
    for (std::size_t at = first; at < piece.size();) {
      if (!UnicodeText::isPunctuation(UnicodeText::next(piece, at))) last = at;
    }
    if (last > first) result.push_back(UnicodeText::nfc(piece.substr(first, last - first)));
  }
  return result;
}

double jaccard(Tokens a, Tokens b, int n) {
  n = std::max(n, 1);
  auto grams = [n](Tokens list) {
    std::unordered_set<std::string> set;
    if (list.size() < static_cast<std::size_t>(n)) {
      for (const auto& t : list) set.insert(canonical(t));
      return set;
    }
    for (std::size_t start = 0; start + static_cast<std::size_t>(n) <= list.size(); ++start) {
      std::string gram = canonical(list[start]);
      for (std::size_t k = 1; k < static_cast<std::size_t>(n); ++k) {
        gram += ' ';
        gram += canonical(list[start + k]);
      }
      set.insert(std::move(gram));
    }
    return set;
  };
  auto ga = grams(a), gb = grams(b);
  if (ga.empty() && gb.empty()) return 0;
  std::size_t common = 0;
  for (const auto& g : ga) common += gb.count(g);
  return static_cast<double>(common) / static_cast<double>(ga.size() + gb.size() - common);
}

bool isAbortedPrefix(Tokens a, Tokens b) {
  if (a.size() < 2) return false;
  if (1.5 * static_cast<double>(a.size()) > static_cast<double>(b.size())) return false;
  return detail::coversOpening(a, b);
}

namespace detail {

bool coversOpening(Tokens a, Tokens b) {
  auto opening = b.first(std::min(b.size(), a.size() + 2));
  auto alignment = TextAlign::localAlign(a, opening, -1.0);
  if (alignment.score < 0.7) return false;
  if (alignment.aRange.lowerBound > 1 || alignment.bRange.lowerBound > 1) return false;
  return alignment.aRange.count() >= static_cast<int>(0.7 * static_cast<double>(a.size()));
}

}  // namespace detail

bool sameText(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (UnicodeText::isPlainAscii(a) && UnicodeText::isPlainAscii(b)) return false;
  return UnicodeText::nfc(a) == UnicodeText::nfc(b);
}

std::string canonical(std::string_view text) { return UnicodeText::nfc(text); }

int characterCount(std::string_view text) { return UnicodeText::graphemeCount(text); }

}  // namespace kestrane::TextAlign
