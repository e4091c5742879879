#include "kestrane/brain/LongTokenAligner.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <span>

#include "kestrane/brain/TextAlignDetail.hpp"

namespace kestrane {

namespace {

constexpr int exactHalves = 4, nearHalves = 2, missHalves = -2;

}  // namespace

LongTokenAligner::LongTokenAligner(TextAlign::TokenList longList) : long_(std::move(longList)) {
  for (std::size_t j = 0; j < long_.size(); ++j) {
    int id = types_.intern(long_[j]);
    if (postings_.size() <= static_cast<std::size_t>(id)) postings_.resize(static_cast<std::size_t>(id) + 1);
    postings_[static_cast<std::size_t>(id)].push_back(static_cast<int>(j));
  }
  for (int id = 0; id < static_cast<int>(postings_.size()); ++id) {
    auto length = types_.length(id);
    if (length < TextAlign::detail::kNearMatchLength) continue;
    if (byLength_.size() <= length) byLength_.resize(length + 1);
    byLength_[length].push_back(id);
    byHead_[types_.head(id)].push_back(id);
  }
}

int LongTokenAligner::pairHalves(int x, int y) const {
  if (x == y) return exactHalves;
  return types_.isNear(x, y) ? nearHalves : missHalves;
}

const std::vector<int>& LongTokenAligner::partnersOf(int x) {
  if (auto found = partners_.find(x); found != partners_.end()) return found->second;
  std::vector<int> partners;
  if (static_cast<std::size_t>(x) < postings_.size() && !postings_[static_cast<std::size_t>(x)].empty())
    partners.push_back(x);
  constexpr std::size_t nearLength = TextAlign::detail::kNearMatchLength;
  const auto length = types_.length(x);
  if (length >= nearLength) {
    // Near matches of any length share the first four characters; the others lie within two.
    const auto head = types_.head(x);
    if (auto group = byHead_.find(head); group != byHead_.end())
      for (int y : group->second)
        if (y != x) partners.push_back(y);
    for (std::size_t l = std::max(nearLength, length - 2); l <= length + 2 && l < byLength_.size(); ++l)
      for (int y : byLength_[l])
        if (y != x && types_.head(y) != head && types_.isNear(x, y)) partners.push_back(y);
  }
  return partners_.emplace(x, std::move(partners)).first->second;
}

TextAlign::LocalAlignment LongTokenAligner::align(const TextAlign::TokenList& shortList) {
  if (auto found = answered_.find(shortList); found != answered_.end()) return found->second;
  TextAlign::LocalAlignment alignment = alignAfresh(shortList);
  answered_.emplace(shortList, alignment);
  return alignment;
}

TextAlign::LocalAlignment LongTokenAligner::alignAfresh(const TextAlign::TokenList& shortList) {
  const int m = static_cast<int>(shortList.size()), n = static_cast<int>(long_.size());
  if (m == 0 || n == 0) return {};

  // The matching pairs as cells (column j, row i, score), 1-based like the toolkit's matrix.
  struct Cell {
    int j, i, halves;
  };
  std::vector<Cell> cells;
  for (int i = 1; i <= m; ++i) {
    int x = types_.intern(shortList[static_cast<std::size_t>(i - 1)]);
    for (int y : partnersOf(x)) {
      int halves = pairHalves(x, y);
      for (int j : postings_[static_cast<std::size_t>(y)]) cells.push_back({j + 1, i, halves});
    }
  }
  if (cells.empty()) return {};
  std::sort(cells.begin(), cells.end(),
            [](const Cell& a, const Cell& b) { return a.j != b.j ? a.j < b.j : a.i < b.i; });

  // H at a matching cell reached diagonally is its pair score plus the best of 0 and, over
  // earlier matching cells (i', j') above and left of it, H(i', j') - (i - 1 - i') - (j - 1 - j')
  // in half points. A prefix-maximum tree over the rows keeps the largest H(i', j') + i' + j'
  // of the rows above each row; it only ever grows.
  constexpr int none = INT_MIN / 4;
  std::vector<int> reach(static_cast<std::size_t>(m) + 1, none);
  auto raise = [&](int row, int v) {
    for (; row <= m; row += row & -row)
      reach[static_cast<std::size_t>(row)] = std::max(reach[static_cast<std::size_t>(row)], v);
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
  auto window =
      std::span<const std::string>(long_).subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(bj - from));
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
