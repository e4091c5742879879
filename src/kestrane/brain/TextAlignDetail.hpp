#pragma once
// Internals of the toolkit: the near-match rule and the edit distance over any
// kind of character sequence, the entry that lets tests force the
// checkpointed (low-memory) traceback on small inputs, and lists prepared
// once for aligning against many others (a script's beats).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"

namespace kestrane::TextAlign::detail {

// Words shorter than this never match nearly.
inline constexpr std::size_t kNearMatchLength = 4;

// Levenshtein distance of two character sequences (small views with size()
// and operator[], whose elements compare with ==). With limit >= 0 it stops once a
// whole row exceeds limit, and never returns more than limit + 1. Kept out of
// line: its rows would otherwise weigh on every caller's frame.
template <typename Characters>
[[gnu::noinline]] int editDistance(Characters a, Characters b, int limit = -1) {
  const std::size_t m = std::size(a), n = std::size(b);
  auto capped = [limit](std::size_t distance) {
    const int d = static_cast<int>(distance);
    return limit >= 0 ? std::min(d, limit + 1) : d;
  };
  if (m == 0) return capped(n);
  if (n == 0) return capped(m);
  // Two rows; words are short, so they usually fit on the stack.
  constexpr std::size_t kStackColumns = 64;
  int stackRows[2 * (kStackColumns + 1)];
  std::vector<int> heapRows;
  int* previous = stackRows;
  if (n > kStackColumns) {
    heapRows.resize(2 * (n + 1));
    previous = heapRows.data();
  }
  int* current = previous + n + 1;
  for (std::size_t j = 0; j <= n; ++j) previous[j] = static_cast<int>(j);
  // With a limit only the cells within `limit` of the diagonal can stay within
  // it, so each row is computed over that band alone (linear in the lengths);
  // the cells just outside it read as over the limit.
  const std::size_t band = limit >= 0 ? static_cast<std::size_t>(limit) : std::max(m, n);
  const int over = limit + 1;
  for (std::size_t i = 1; i <= m; ++i) {
    const std::size_t lo = i > band ? i - band : 1;
    const std::size_t hi = std::min(n, i + band);
    if (lo > hi) return capped(m > n ? m - n : n - m);
    current[lo - 1] = lo == 1 ? static_cast<int>(i) : over;
    int rowMin = current[lo - 1];
    const auto& ca = a[i - 1];
    for (std::size_t j = lo; j <= hi; ++j) {
      current[j] = std::min({previous[j - 1] + (ca == b[j - 1] ? 0 : 1), previous[j] + 1, current[j - 1] + 1});
      rowMin = std::min(rowMin, current[j]);
    }
    if (hi < n) current[hi + 1] = over;
    if (limit >= 0 && rowMin > limit) return limit + 1;
    std::swap(previous, current);
  }
  if (m > n + band || n > m + band) return capped(m > n ? m - n : n - m);
  return capped(static_cast<std::size_t>(previous[n]));
}

// Whether two sequences of at least kNearMatchLength characters begin with the same four.
template <typename Characters>
bool sameHead(Characters a, Characters b) {
  for (std::size_t k = 0; k < kNearMatchLength; ++k)
    if (!(a[k] == b[k])) return false;
  return true;
}

// Clearing the lowest set bit four times empties any word of at most four
// bits (cheaper than a library popcount call on plain x86-64).
inline bool atMostFourBits(std::uint64_t bits) {
  for (int k = 0; k < 4 && bits; ++k) bits &= bits - 1;
  return bits == 0;
}

// The near-match rule for two words that are not equal, given as views of
// their characters: both at least kNearMatchLength long, and either the same first
// four characters, or lengths at most two apart and at most two edits apart.
// bitsA and bitsB fold the characters each word holds into 64 bits, by one
// mapping for both words; two edits change at most four of those bits, which
// rules out most pairs before the edit distance is computed. A view with a
// quicker head test or distance brings its own sameHead and editDistance,
// found beside the view's type.
template <typename Characters>
bool isNearMatch(Characters a, Characters b, std::uint64_t bitsA, std::uint64_t bitsB) {
  const std::size_t m = std::size(a), n = std::size(b);
  if (m < kNearMatchLength || n < kNearMatchLength) return false;
  if (sameHead(a, b)) return true;
  if ((m > n ? m - n : n - m) > 2) return false;
  if (!atMostFourBits(bitsA ^ bitsB)) return false;
  return editDistance(a, b, 2) <= 2;
}

// Whether a, aligned with the first |a| + 2 tokens of b, covers their opening:
// the aborted-prefix test without its length conditions.
bool coversOpening(Tokens a, Tokens b);

// Up to this many score cells the whole matrix is kept; beyond it only
// every k-th row is kept and the rows the traceback needs are recomputed.
inline constexpr std::size_t kFullMatrixCells = std::size_t{1} << 21;

LocalAlignment localAlign(Tokens a, Tokens b, double gap, std::size_t fullMatrixCells);

// A token list prepared once for comparison (canonical text, characters).
// The tokens must outlive it and stay where they are.
class PreparedTokens {
 public:
  explicit PreparedTokens(Tokens list);
  ~PreparedTokens();
  PreparedTokens(const PreparedTokens&) = delete;
  PreparedTokens& operator=(const PreparedTokens&) = delete;

  std::size_t size() const;
  std::string_view text(std::size_t k) const;  // canonical
  int length(std::size_t k) const;             // in characters
  std::string_view head(std::size_t k) const;  // the first four characters (all when shorter)
  // The k-th token's characters (bytes of plain text, grapheme clusters otherwise).
  std::string_view character(std::size_t k, int c) const;

 private:
  struct Words;
  std::unique_ptr<Words> words_;
  friend int pairScore(const PreparedTokens&, std::size_t, const PreparedTokens&, std::size_t);
  friend LocalAlignment localAlign(const PreparedTokens&, const PreparedTokens&, std::size_t, std::size_t, double);
};

// The alignment's pair score of a[i] and b[j]: 2 equal, 1 near match, -1 otherwise.
int pairScore(const PreparedTokens& a, std::size_t i, const PreparedTokens& b, std::size_t j);

// localAlign(a, the count tokens of b from first, gap).
LocalAlignment localAlign(const PreparedTokens& a, const PreparedTokens& b, std::size_t first, std::size_t count,
                          double gap);

// localAlign(a, b, gap) for one fixed a and many b. The tokens of a must
// outlive the aligner.
class Aligner {
 public:
  explicit Aligner(Tokens a);
  ~Aligner();
  Aligner(const Aligner&) = delete;
  Aligner& operator=(const Aligner&) = delete;

  LocalAlignment align(Tokens b, double gap = -1.0) const;

 private:
  struct Prepared;
  std::unique_ptr<Prepared> a_;
};

}  // namespace kestrane::TextAlign::detail
