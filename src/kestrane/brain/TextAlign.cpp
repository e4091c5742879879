#include "kestrane/brain/TextAlign.hpp"

#include <algorithm>
#include <bit>
#include <functional>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "kestrane/brain/TextAlignDetail.hpp"
#include "kestrane/brain/UnicodeText.hpp"

namespace kestrane::TextAlign {

namespace {

// A token prepared for comparison: canonical text, length in characters,
// and its characters when it is not plain ASCII.
struct Word {
  const std::string* original = nullptr;
  std::string canon;  // only used when !plain
  bool plain = true;
  int length = 0;
  std::uint64_t characterBits = 0;           // one bit per character (hashed)
  std::vector<std::string_view> characters;  // views into canon, only when !plain

  std::string_view text() const { return plain ? std::string_view(*original) : std::string_view(canon); }
  std::string_view character(int k) const {
    return plain ? text().substr(static_cast<std::size_t>(k), 1) : characters[static_cast<std::size_t>(k)];
  }
  // The first four characters (all of them when shorter).
  std::string_view head() const {
    if (plain || length <= 4) return text().substr(0, plain ? std::min<std::size_t>(4, text().size()) : text().size());
    const auto& fourth = characters[3];
    return text().substr(0, static_cast<std::size_t>(fourth.data() + fourth.size() - canon.data()));
  }
};

// Prepared in place (the character views point into each element's own
// text); the vector is reused between calls on the same thread.
void prepare(Tokens list, std::vector<Word>& words) {
  if (words.size() < list.size()) words.resize(list.size());
  for (std::size_t k = 0; k < list.size(); ++k) {
    Word& w = words[k];
    w.original = &list[k];
    w.plain = UnicodeText::isPlainAscii(list[k]);
    w.characterBits = 0;
    if (w.plain) {
      w.length = static_cast<int>(list[k].size());
      for (unsigned char c : list[k]) w.characterBits |= std::uint64_t{1} << (c & 63);
    } else {
      w.canon = UnicodeText::nfc(list[k]);
      w.characters = UnicodeText::graphemes(w.canon);
      w.length = static_cast<int>(w.characters.size());
      for (auto c : w.characters) w.characterBits |= std::uint64_t{1} << (std::hash<std::string_view>{}(c) & 63);
    }
  }
}

// Levenshtein distance over bytes of two plain words.
int plainLevenshtein(std::string_view a, std::string_view b) {
  const std::size_t n = b.size();
  if (a.empty()) return static_cast<int>(n);
  if (n == 0) return static_cast<int>(a.size());
  constexpr std::size_t kStack = 64;
  int stackRows[2 * (kStack + 1)];
  std::vector<int> heapRows;
  int* previous = stackRows;
  if (n > kStack) {
    heapRows.resize(2 * (n + 1));
    previous = heapRows.data();
  }
  int* current = previous + n + 1;
  for (std::size_t j = 0; j <= n; ++j) previous[j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = static_cast<int>(i);
    const char ca = a[i - 1];
    for (std::size_t j = 1; j <= n; ++j)
      current[j] = std::min({previous[j - 1] + (ca == b[j - 1] ? 0 : 1), previous[j] + 1, current[j - 1] + 1});
    std::swap(previous, current);
  }
  return previous[n];
}

// Levenshtein distance over characters with two rows; when limit >= 0 it
// gives up (returning limit + 1) once every cell of a row exceeds limit.
int levenshtein(const Word& a, const Word& b, int limit) {
  if (a.plain && b.plain) return plainLevenshtein(a.text(), b.text());
  const int m = a.length, n = b.length;
  if (m == 0) return n;
  if (n == 0) return m;
  std::vector<int> previous(static_cast<std::size_t>(n) + 1), current(static_cast<std::size_t>(n) + 1);
  for (int j = 0; j <= n; ++j) previous[static_cast<std::size_t>(j)] = j;
  for (int i = 1; i <= m; ++i) {
    current[0] = i;
    int rowMin = i;
    auto ca = a.character(i - 1);
    for (int j = 1; j <= n; ++j) {
      auto uj = static_cast<std::size_t>(j);
      int substitution = previous[uj - 1] + (ca == b.character(j - 1) ? 0 : 1);
      int value = std::min({substitution, previous[uj] + 1, current[uj - 1] + 1});
      current[uj] = value;
      rowMin = std::min(rowMin, value);
    }
    if (limit >= 0 && rowMin > limit) return limit + 1;
    std::swap(previous, current);
  }
  return previous[static_cast<std::size_t>(n)];
}

// +2 equal, +1 near match, -1 otherwise (as small integers).
int pairKind(const Word& x, const Word& y) {
  if (x.text() == y.text()) return 2;
  if (x.length < 4 || y.length < 4) return -1;
  if (x.head() == y.head()) return 1;
  if (std::abs(x.length - y.length) > 2) return -1;
  // Two edits change the set of characters by at most four: a cheap reject.
  if (std::popcount(x.characterBits ^ y.characterBits) > 4) return -1;
  return levenshtein(x, y, 2) <= 2 ? 1 : -1;
}

// Pair kinds, memoised per distinct token pair when the alignment is large.
class PairKinds {
 public:
  // Only the first m and n prepared words are in use.
  PairKinds(const std::vector<Word>& a, const std::vector<Word>& b, std::size_t m, std::size_t n) : a_(a), b_(b) {
    if (m * n < 16384) return;
    auto ids = [](const std::vector<Word>& words, std::size_t count, std::vector<int>& out) {
      std::unordered_map<std::string_view, int> seen;
      out.reserve(count);
      for (std::size_t k = 0; k < count; ++k)
        out.push_back(seen.emplace(words[k].text(), static_cast<int>(seen.size())).first->second);
      return seen.size();
    };
    std::size_t ua = ids(a, m, idA_), ub = ids(b, n, idB_);
    if (ua * ub > (std::size_t{1} << 24)) return;
    stride_ = ub;
    table_.assign(ua * ub, 0);
  }

  int operator()(int i, int j) {
    auto ui = static_cast<std::size_t>(i), uj = static_cast<std::size_t>(j);
    if (table_.empty()) return pairKind(a_[ui], b_[uj]);
    auto& cached = table_[static_cast<std::size_t>(idA_[ui]) * stride_ + static_cast<std::size_t>(idB_[uj])];
    if (cached == 0) cached = static_cast<std::int8_t>(pairKind(a_[ui], b_[uj]));
    return cached;
  }

 private:
  const std::vector<Word>& a_;
  const std::vector<Word>& b_;
  std::vector<int> idA_, idB_;
  std::size_t stride_ = 0;
  std::vector<std::int8_t> table_;
};

template <typename Cell>
struct CellScores {
  Cell exact, near, miss, gap;
  double scale;  // cell units per score point
  Cell of(int kind) const { return kind == 2 ? exact : (kind == 1 ? near : miss); }
};

// Smith-Waterman with a bounded working set: the whole matrix when it is
// small, otherwise checkpoint rows every k rows plus one recomputed block of
// k rows (only up to the best column) for the traceback.
template <typename Cell>
LocalAlignment alignCells(PairKinds& kinds, int m, int n, const CellScores<Cell>& sc, std::size_t fullCells) {
  const std::size_t width = static_cast<std::size_t>(n) + 1;
  const bool full = (static_cast<std::size_t>(m) + 1) * width <= fullCells;
  const int k = full ? m : std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(m)))));

  auto fillRow = [&](const Cell* up, Cell* row, int i, std::size_t cols) {
    row[0] = 0;
    for (std::size_t j = 1; j < cols; ++j) {
      Cell value = std::max(Cell(0), up[j - 1] + sc.of(kinds(i - 1, static_cast<int>(j) - 1)));
      value = std::max(value, up[j] + sc.gap);
      value = std::max(value, row[j - 1] + sc.gap);
      row[j] = value;
    }
  };

  Cell best = 0;
  int bi = 0, bj = 0;
  auto track = [&](const Cell* row, int i) {
    for (std::size_t j = 1; j < width; ++j)
      if (row[j] > best) {
        best = row[j];
        bi = i;
        bj = static_cast<int>(j);
      }
  };

  // full: every row; else the traceback's block. Small matrices reuse a
  // per-thread buffer.
  thread_local std::vector<Cell> smallBlock;
  std::vector<Cell> largeBlock;
  const bool small = full && (static_cast<std::size_t>(m) + 1) * width <= (std::size_t{1} << 16);
  std::vector<Cell>& block = small ? smallBlock : largeBlock;
  std::vector<Cell> checkpoints;  // rows 0, k, 2k, ... (checkpointed mode)
  if (full) {
    block.assign((static_cast<std::size_t>(m) + 1) * width, Cell(0));
    for (int i = 1; i <= m; ++i) {
      Cell* row = &block[static_cast<std::size_t>(i) * width];
      fillRow(row - width, row, i, width);
      track(row, i);
    }
  } else {
    checkpoints.assign((static_cast<std::size_t>(m / k) + 1) * width, Cell(0));
    std::vector<Cell> previous(width, Cell(0)), current(width, Cell(0));
    for (int i = 1; i <= m; ++i) {
      fillRow(previous.data(), current.data(), i, width);
      track(current.data(), i);
      if (i % k == 0) std::copy(current.begin(), current.end(), checkpoints.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i / k) * width));
      std::swap(previous, current);
    }
  }
  if (!(best > Cell(0))) return {};

  // Rows of the traceback: the block holds rows base..base+k over columns 0..bj.
  const std::size_t cols = full ? width : static_cast<std::size_t>(bj) + 1;
  int base = -1;
  if (!full) block.assign((static_cast<std::size_t>(k) + 1) * cols, Cell(0));
  auto rowOf = [&](int i) -> const Cell* {
    if (full) return &block[static_cast<std::size_t>(i) * width];
    return &block[static_cast<std::size_t>(i - base) * cols];
  };
  auto ensure = [&](int i) {  // rows i - 1 and i available
    if (full || (base >= 0 && base <= i - 1 && i <= base + k)) return;
    base = ((i - 1) / k) * k;
    const Cell* saved = &checkpoints[static_cast<std::size_t>(base / k) * width];
    std::copy(saved, saved + cols, block.begin());
    int last = std::min(k, m - base);
    for (int r = 1; r <= last; ++r) {
      Cell* row = &block[static_cast<std::size_t>(r) * cols];
      fillRow(row - cols, row, base + r, cols);
    }
  };

  int i = bi, j = bj, matches = 0;
  while (i >= 1 && j >= 1) {
    ensure(i);
    const Cell* row = rowOf(i);
    const Cell* up = rowOf(i - 1);
    auto uj = static_cast<std::size_t>(j);
    Cell here = row[uj];
    if (here <= Cell(0)) break;
    int kind = kinds(i - 1, j - 1);
    if (here == up[uj - 1] + sc.of(kind)) {
      if (kind >= 1) ++matches;
      --i;
      --j;
    } else if (here == up[uj] + sc.gap) {
      --i;
    } else if (here == row[uj - 1] + sc.gap) {
      --j;
    } else {
      break;
    }
  }

  LocalAlignment result;
  result.score = std::min(1.0, (static_cast<double>(best) / sc.scale) / (2.0 * std::min(m, n)));
  result.aRange = {i, bi};
  result.bRange = {j, bj};
  result.matchCount = matches;
  return result;
}

}  // namespace

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

int editDistance(std::string_view a, std::string_view b) {
  if (UnicodeText::isPlainAscii(a) && UnicodeText::isPlainAscii(b)) return plainLevenshtein(a, b);
  std::vector<std::string> pair{std::string(a), std::string(b)};
  std::vector<Word> words;
  prepare(pair, words);
  return levenshtein(words[0], words[1], -1);
}

namespace detail {

LocalAlignment localAlign(Tokens a, Tokens b, double gap, std::size_t fullMatrixCells) {
  if (a.empty() || b.empty()) return {};
  // Scratch reused between calls on one thread: aligning short lists is
  // otherwise dominated by allocation.
  thread_local std::vector<Word> wa, wb;
  prepare(a, wa);
  prepare(b, wb);
  LocalAlignment result;
  {
    PairKinds kinds(wa, wb, a.size(), b.size());
    const int m = static_cast<int>(a.size()), n = static_cast<int>(b.size());
    // Scores are multiples of a half for the gaps callers use: count in halves.
    const double halves = gap * 2;
    if (std::isfinite(gap) && halves == std::round(halves) && std::fabs(halves) <= 1 << 20) {
      result = alignCells(kinds, m, n, CellScores<std::int32_t>{4, 2, -2, static_cast<std::int32_t>(halves), 2.0},
                          fullMatrixCells);
    } else {
      result = alignCells(kinds, m, n, CellScores<double>{2.0, 1.0, -1.0, gap, 1.0}, fullMatrixCells);
    }
  }
  // Do not keep the scratch of an unusually long list alive.
  for (auto* words : {&wa, &wb})
    if (words->size() > 4096) std::vector<Word>().swap(*words);
  return result;
}

}  // namespace detail

LocalAlignment localAlign(Tokens a, Tokens b, double gap) {
  return detail::localAlign(a, b, gap, detail::kFullMatrixCells);
}

bool isAbortedPrefix(Tokens a, Tokens b) {
  if (a.size() < 2) return false;
  if (1.5 * static_cast<double>(a.size()) > static_cast<double>(b.size())) return false;
  auto opening = b.first(std::min(b.size(), a.size() + 2));
  auto alignment = localAlign(a, opening, -1.0);
  if (alignment.score < 0.7) return false;
  if (alignment.aRange.lowerBound > 1 || alignment.bRange.lowerBound > 1) return false;
  return alignment.aRange.count() >= static_cast<int>(0.7 * static_cast<double>(a.size()));
}

bool sameText(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (UnicodeText::isPlainAscii(a) && UnicodeText::isPlainAscii(b)) return false;
  return UnicodeText::nfc(a) == UnicodeText::nfc(b);
}

std::string canonical(std::string_view text) { return UnicodeText::nfc(text); }

int characterCount(std::string_view text) { return UnicodeText::graphemeCount(text); }

}  // namespace kestrane::TextAlign
