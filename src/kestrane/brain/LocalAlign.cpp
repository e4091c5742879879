#include "kestrane/brain/TextAlign.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "kestrane/brain/TextAlignDetail.hpp"
#include "kestrane/brain/UnicodeText.hpp"
#include "kestrane/model/Cancelled.hpp"

// Local alignment of token lists (Smith-Waterman, linear gap) and the
// character-level edit distance it uses for near matches.
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
  std::uint32_t head4 = 0;                   // plain words: the first four bytes
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

// Views of a word's characters for the near-match rule and the edit distance
// (small, passed by value). As grapheme clusters, whether or not it is plain:
struct Graphemes {
  const Word& word;
  std::size_t size() const { return static_cast<std::size_t>(word.length); }
  std::string_view operator[](std::size_t k) const { return word.character(static_cast<int>(k)); }
};

// and as the bytes of a plain word.
struct Bytes {
  const Word& word;
  std::size_t size() const { return static_cast<std::size_t>(word.length); }
  char operator[](std::size_t k) const { return (*word.original)[k]; }
};

// A word as the near-match rule sees it. The rule finds the head test and the
// edit distance below, which take the quick form when both words are plain.
struct Characters {
  const Word& word;
  std::size_t size() const { return static_cast<std::size_t>(word.length); }
};

bool sameHead(Characters a, Characters b) {
  return a.word.plain && b.word.plain ? a.word.head4 == b.word.head4 : a.word.head() == b.word.head();
}

int editDistance(Characters a, Characters b, int limit) {
  if (a.word.plain && b.word.plain) return detail::editDistance(Bytes{a.word}, Bytes{b.word}, limit);
  return detail::editDistance(Graphemes{a.word}, Graphemes{b.word}, limit);
}

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
      w.head4 = 0;
      for (std::size_t c = 0; c < list[k].size(); ++c) {
        auto byte = static_cast<unsigned char>(list[k][c]);
        w.characterBits |= std::uint64_t{1} << (byte & 63);
        if (c < 4) w.head4 |= std::uint32_t{byte} << (8 * c);
      }
    } else {
      w.canon = UnicodeText::nfc(list[k]);
      w.characters = UnicodeText::graphemes(w.canon);
      w.length = static_cast<int>(w.characters.size());
      // A plain character sets the same bit as in a plain word, so the two kinds of word compare.
      for (auto c : w.characters) {
        const auto bit = c.size() == 1 && static_cast<unsigned char>(c[0]) < 0x80
                             ? static_cast<unsigned char>(c[0]) & 63u
                             : std::hash<std::string_view>{}(c)&63u;
        w.characterBits |= std::uint64_t{1} << bit;
      }
    }
  }
}

// +2 equal, +1 near match, -1 otherwise (as small integers).
int pairKind(const Word& x, const Word& y) {
  if (x.characterBits == y.characterBits && x.text() == y.text()) return 2;
  return detail::isNearMatch(Characters{x}, Characters{y}, x.characterBits, y.characterBits) ? 1 : -1;
}

// Pair kinds of a[i] and b[j]: all of them up front for a small matrix
// (so an alignment without any matching pair is known to be empty at once),
// memoised per distinct token pair for a large one.
class PairKinds {
 public:
  PairKinds(const Word* a, std::size_t m, const Word* b, std::size_t n) : a_(a), b_(b), n_(n) {
    if (m * n <= kDenseCells) {
      thread_local std::vector<std::int8_t> dense;
      dense.resize(m * n);
      for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
          auto kind = static_cast<std::int8_t>(pairKind(a[i], b[j]));
          dense[i * n + j] = kind;
          anyPositive_ = anyPositive_ || kind > 0;
        }
      dense_ = dense.data();
      return;
    }
    anyPositive_ = true;  // not worth finding out
    if (m * n < 16384) return;
    auto ids = [](const Word* words, std::size_t count, std::vector<int>& out) {
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

  bool anyPositive() const { return anyPositive_; }

  int operator()(int i, int j) {
    auto ui = static_cast<std::size_t>(i), uj = static_cast<std::size_t>(j);
    if (dense_) return dense_[ui * n_ + uj];
    if (table_.empty()) return pairKind(a_[ui], b_[uj]);
    auto& cached = table_[static_cast<std::size_t>(idA_[ui]) * stride_ + static_cast<std::size_t>(idB_[uj])];
    if (cached == 0) cached = static_cast<std::int8_t>(pairKind(a_[ui], b_[uj]));
    return cached;
  }

 private:
  static constexpr std::size_t kDenseCells = std::size_t{1} << 16;
  const Word* a_;
  const Word* b_;
  std::size_t n_;
  const std::int8_t* dense_ = nullptr;
  bool anyPositive_ = false;
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
      if (i % 256 == 0) checkpoint();
      Cell* row = &block[static_cast<std::size_t>(i) * width];
      fillRow(row - width, row, i, width);
      track(row, i);
    }
  } else {
    checkpoints.assign((static_cast<std::size_t>(m / k) + 1) * width, Cell(0));
    std::vector<Cell> previous(width, Cell(0)), current(width, Cell(0));
    for (int i = 1; i <= m; ++i) {
      if (i % 256 == 0) checkpoint();
      fillRow(previous.data(), current.data(), i, width);
      track(current.data(), i);
      if (i % k == 0)
        std::copy(current.begin(), current.end(),
                  checkpoints.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i / k) * width));
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

// Both lists prepared; dispatches on whether the scores fit in half units.
LocalAlignment alignPrepared(const Word* a, std::size_t m, const Word* b, std::size_t n, double gap,
                             std::size_t fullCells) {
  if (m == 0 || n == 0) return {};
  PairKinds kinds(a, m, b, n);
  // With no matching pair and no positive gap every cell is 0.
  if (!kinds.anyPositive() && !(gap > 0)) return {};
  const int mi = static_cast<int>(m), ni = static_cast<int>(n);
  // Scores are multiples of a half for the gaps callers use: count in halves.
  const double halves = gap * 2;
  if (std::isfinite(gap) && halves == std::round(halves) && std::fabs(halves) <= 1 << 20)
    return alignCells(kinds, mi, ni, CellScores<std::int32_t>{4, 2, -2, static_cast<std::int32_t>(halves), 2.0},
                      fullCells);
  return alignCells(kinds, mi, ni, CellScores<double>{2.0, 1.0, -1.0, gap, 1.0}, fullCells);
}

// Scratch reused between calls on one thread (aligning short lists is
// otherwise dominated by allocation), but not kept when unusually long.
void release(std::vector<Word>& words) {
  if (words.size() > 4096) std::vector<Word>().swap(words);
}

}  // namespace

int editDistance(std::string_view a, std::string_view b) {
  if (UnicodeText::isPlainAscii(a) && UnicodeText::isPlainAscii(b)) return detail::editDistance(a, b);
  std::vector<std::string> pair{std::string(a), std::string(b)};
  std::vector<Word> words;
  prepare(pair, words);
  return detail::editDistance(Graphemes{words[0]}, Graphemes{words[1]});
}

LocalAlignment localAlign(Tokens a, Tokens b, double gap) {
  return detail::localAlign(a, b, gap, detail::kFullMatrixCells);
}

namespace detail {

LocalAlignment localAlign(Tokens a, Tokens b, double gap, std::size_t fullMatrixCells) {
  if (a.empty() || b.empty()) return {};
  thread_local std::vector<Word> wa, wb;
  prepare(a, wa);
  prepare(b, wb);
  auto result = alignPrepared(wa.data(), a.size(), wb.data(), b.size(), gap, fullMatrixCells);
  release(wa);
  release(wb);
  return result;
}

struct PreparedTokens::Words {
  std::vector<Word> words;
};

PreparedTokens::PreparedTokens(Tokens list) : words_(std::make_unique<Words>()) { prepare(list, words_->words); }

PreparedTokens::~PreparedTokens() = default;

std::size_t PreparedTokens::size() const { return words_->words.size(); }

std::string_view PreparedTokens::text(std::size_t k) const { return words_->words[k].text(); }

int PreparedTokens::length(std::size_t k) const { return words_->words[k].length; }

std::string_view PreparedTokens::head(std::size_t k) const { return words_->words[k].head(); }

std::string_view PreparedTokens::character(std::size_t k, int c) const { return words_->words[k].character(c); }

int pairScore(const PreparedTokens& a, std::size_t i, const PreparedTokens& b, std::size_t j) {
  return pairKind(a.words_->words[i], b.words_->words[j]);
}

LocalAlignment localAlign(const PreparedTokens& a, const PreparedTokens& b, std::size_t first, std::size_t count,
                          double gap) {
  if (a.size() == 0 || count == 0) return {};
  return alignPrepared(a.words_->words.data(), a.size(), b.words_->words.data() + first, count, gap, kFullMatrixCells);
}

struct Aligner::Prepared {
  std::vector<Word> words;
};

Aligner::Aligner(Tokens a) : a_(std::make_unique<Prepared>()) { prepare(a, a_->words); }

Aligner::~Aligner() = default;

LocalAlignment Aligner::align(Tokens b, double gap) const {
  if (a_->words.empty() || b.empty()) return {};
  thread_local std::vector<Word> wb;
  prepare(b, wb);
  auto result = alignPrepared(a_->words.data(), a_->words.size(), wb.data(), b.size(), gap, kFullMatrixCells);
  release(wb);
  return result;
}

}  // namespace detail

}  // namespace kestrane::TextAlign
