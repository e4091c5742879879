#include "kestrane/brain/LongTokenAligner.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <span>

#include "kestrane/brain/UnicodeText.hpp"

namespace kestrane {

namespace {

constexpr int nearLength = 4;  // shorter words are never near matches
constexpr int exactHalves = 4, nearHalves = 2, missHalves = -2;

// Levenshtein distance of two character-id strings, at most limit + 1.
int boundedDistance(const std::vector<int>& a, const std::vector<int>& b, int limit) {
  const std::size_t m = a.size(), n = b.size();
  std::vector<int> previous(n + 1), current(n + 1);
  for (std::size_t j = 0; j <= n; ++j) previous[j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= m; ++i) {
    current[0] = static_cast<int>(i);
    int rowMin = current[0];
    for (std::size_t j = 1; j <= n; ++j) {
      current[j] = std::min({previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1), previous[j] + 1, current[j - 1] + 1});
      rowMin = std::min(rowMin, current[j]);
    }
    if (rowMin > limit) return limit + 1;
    std::swap(previous, current);
  }
  return std::min(previous[n], limit + 1);
}

}  // namespace

LongTokenAligner::LongTokenAligner(TextAlign::TokenList longList) : long_(std::move(longList)) {
  std::vector<int> positions;
  for (std::size_t j = 0; j < long_.size(); ++j) {
    int id = intern(long_[j]);
    if (postings_.size() <= static_cast<std::size_t>(id)) postings_.resize(static_cast<std::size_t>(id) + 1);
    postings_[static_cast<std::size_t>(id)].push_back(static_cast<int>(j));
  }
  for (std::size_t id = 0; id < postings_.size(); ++id) {
    auto length = types_[id].characters.size();
    if (length < nearLength) continue;
    if (byLength_.size() <= length) byLength_.resize(length + 1);
    byLength_[length].push_back(static_cast<int>(id));
    byHead_[headOf(types_[id].characters)].push_back(static_cast<int>(id));
  }
}

int LongTokenAligner::intern(const std::string& token) {
  const bool plain = UnicodeText::isPlainAscii(token);
  auto [it, fresh] = ids_.try_emplace(plain ? token : TextAlign::canonical(token), static_cast<int>(types_.size()));
  if (!fresh) return it->second;
  TokenType type;
  if (plain) {
    for (unsigned char c : token) type.characters.push_back(c);
  } else {
    // A plain character keeps its byte, as in a plain token, so accented and plain tokens compare.
    for (auto g : UnicodeText::graphemes(it->first)) {
      if (g.size() == 1 && static_cast<unsigned char>(g[0]) < 0x80) {
        type.characters.push_back(static_cast<unsigned char>(g[0]));
        continue;
      }
      auto [c, _] = characterIds_.try_emplace(std::string(g), 256 + static_cast<int>(characterIds_.size()));
      type.characters.push_back(c->second);
    }
  }
  for (int c : type.characters) type.mask |= std::uint64_t{1} << (static_cast<unsigned>(c) & 63u);
  types_.push_back(std::move(type));
  return it->second;
}

// The toolkit's pair rule: equal; or a near match when both have at least four characters and
// share the first four, or differ in length by at most two and by at most two edits.
int LongTokenAligner::pairHalves(int x, int y) const {
  if (x == y) return exactHalves;
  const auto& a = types_[static_cast<std::size_t>(x)];
  const auto& b = types_[static_cast<std::size_t>(y)];
  const auto la = static_cast<int>(a.characters.size()), lb = static_cast<int>(b.characters.size());
  if (la < nearLength || lb < nearLength) return missHalves;
  if (std::equal(a.characters.begin(), a.characters.begin() + nearLength, b.characters.begin())) return nearHalves;
  if (std::abs(la - lb) > 2) return missHalves;
  // Two edits change which characters occur by at most four.
  if (std::popcount(a.mask ^ b.mask) > 4) return missHalves;
  return boundedDistance(a.characters, b.characters, 2) <= 2 ? nearHalves : missHalves;
}

const std::vector<int>& LongTokenAligner::partnersOf(int x) {
  if (auto found = partners_.find(x); found != partners_.end()) return found->second;
  std::vector<int> partners;
  if (static_cast<std::size_t>(x) < postings_.size() && !postings_[static_cast<std::size_t>(x)].empty())
    partners.push_back(x);
  const auto& characters = types_[static_cast<std::size_t>(x)].characters;
  const auto length = characters.size();
  if (length >= nearLength) {
    // Near matches of any length share the first four characters; the others lie within two.
    if (auto group = byHead_.find(headOf(characters)); group != byHead_.end())
      for (int y : group->second)
        if (y != x) partners.push_back(y);
    for (std::size_t l = std::max<std::size_t>(nearLength, length - 2); l <= length + 2 && l < byLength_.size(); ++l)
      for (int y : byLength_[l])
        if (y != x && headOf(types_[static_cast<std::size_t>(y)].characters) != headOf(characters) &&
            pairHalves(x, y) > 0)
          partners.push_back(y);
  }
  return partners_.emplace(x, std::move(partners)).first->second;
}

TextAlign::LocalAlignment LongTokenAligner::align(const TextAlign::TokenList& shortList) {
  const int m = static_cast<int>(shortList.size()), n = static_cast<int>(long_.size());
  if (m == 0 || n == 0) return {};

  // The matching pairs as cells (column j, row i, score), 1-based like the toolkit's matrix.
  struct Cell {
    int j, i, halves;
  };
  std::vector<Cell> cells;
  for (int i = 1; i <= m; ++i) {
    int x = intern(shortList[static_cast<std::size_t>(i - 1)]);
    for (int y : partnersOf(x)) {
      int halves = pairHalves(x, y);
      for (int j : postings_[static_cast<std::size_t>(y)]) cells.push_back({j + 1, i, halves});
    }
  }
  if (cells.empty()) return {};
  std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) { return a.j != b.j ? a.j < b.j : a.i < b.i; });

  // H at a matching cell reached diagonally is its pair score plus the best of 0 and, over
  // earlier matching cells (i', j') above and left of it, H(i', j') - (i - 1 - i') - (j - 1 - j')
  // in half points. A prefix-maximum tree over the rows keeps the largest H(i', j') + i' + j'
  // of the rows above each row; it only ever grows.
  constexpr int none = INT_MIN / 4;
  std::vector<int> reach(static_cast<std::size_t>(m) + 1, none);
  auto raise = [&](int row, int v) {
    for (; row <= m; row += row & -row) reach[static_cast<std::size_t>(row)] = std::max(reach[static_cast<std::size_t>(row)], v);
  };
  auto above = [&](int row) {  // rows 1 ... row - 1
    int v = none;
    for (--row; row > 0; row -= row & -row) v = std::max(v, reach[static_cast<std::size_t>(row)]);
    return v;
  };
  std::vector<int> value(cells.size());
  int best = 0, bi = 0, bj = 0;
  for (std::size_t start = 0; start < cells.size();) {
    std::size_t end = start;
    while (end < cells.size() && cells[end].j == cells[start].j) ++end;
    // Cells of one column do not precede each other: all are valued before any is recorded.
    for (std::size_t c = start; c < end; ++c) {
      const Cell& cell = cells[c];
      int carried = above(cell.i);
      int h = cell.halves + std::max(0, carried == none ? 0 : carried - cell.i - cell.j + 2);
      value[c] = h;
      // Strictly greater, and earlier rows first on ties: the toolkit's row-major choice.
      if (h > best || (h == best && (cell.i < bi || (cell.i == bi && cell.j < bj)))) {
        best = h;
        bi = cell.i;
        bj = cell.j;
      }
    }
    for (std::size_t c = start; c < end; ++c) raise(cells[c].i, value[c] + cells[c].i + cells[c].j);
    start = end;
  }
  if (best <= 0) return {};

  // An alignment with a positive score moves at most four columns by gaps for every row it
  // matches, so it starts within 5m columns of its end.
  const int from = std::max(0, bj - 5 * m - 2);
  auto window = std::span<const std::string>(long_).subspan(static_cast<std::size_t>(from),
                                                            static_cast<std::size_t>(bj - from));
  auto alignment = TextAlign::localAlign(shortList, window, gap);
  const double windowBest = alignment.score * 2.0 * std::min(m, bj - from) * 2.0;
  if (alignment.aRange.upperBound != bi || alignment.bRange.upperBound + from != bj ||
      std::lround(windowBest) != best) {
    return TextAlign::localAlign(shortList, long_, gap);  // not expected; the toolkit decides
  }
  alignment.bRange.lowerBound += from;
  alignment.bRange.upperBound += from;
  alignment.score = std::min(1.0, (static_cast<double>(best) / 2.0) / (2.0 * std::min(m, n)));
  return alignment;
}

}  // namespace kestrane
