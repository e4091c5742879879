#include "kestrane/brain/SimilarityIndex.hpp"

#include <algorithm>
#include <array>
#include <map>

#include "kestrane/brain/TextAlignDetail.hpp"
#include "kestrane/brain/TokenTypes.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane {

namespace {

// Bounds are compared with a little slack so rounding can never rule out a
// pair whose real similarity sits exactly on the threshold.
constexpr double kSlack = 1e-9;

// Two renditions of one line: each more than three tokens long, sharing this
// much of the smaller token set or their opening, and this similar.
constexpr std::size_t kRenditionMinTokens = 4;
constexpr double kRenditionOverlap = 0.35;
constexpr double kRenditionSimilarity = 0.5;

// How many elements two ascending lists without repeats have in common.
template <typename T>
std::size_t sharedCount(const std::vector<T>& x, const std::vector<T>& y) {
  std::size_t common = 0;
  auto i = x.begin(), j = y.begin();
  while (i != x.end() && j != y.end()) {
    if (*i < *j) {
      ++i;
    } else if (*j < *i) {
      ++j;
    } else {
      ++common;
      ++i;
      ++j;
    }
  }
  return common;
}

}  // namespace

SimilarityIndex::SimilarityIndex(std::span<const Utterance> utterances) : utts_(utterances) {
  TextAlign::TokenTypes types;
  lines_.resize(utts_.size());
  // A long recording holds a great many lines: the loops below look at the stop as they go.
  for (std::size_t p = 0; p < utts_.size(); ++p) {
    if (p % 4096 == 0) checkpoint();
    Line& line = lines_[p];
    for (const auto& t : utts_[p].tokens) line.ids.push_back(types.intern(t));
    line.distinct = line.ids;
    std::sort(line.distinct.begin(), line.distinct.end());
    line.distinct.erase(std::unique(line.distinct.begin(), line.distinct.end()), line.distinct.end());
  }

  // Trigram ids; lists shorter than three compare by their tokens, in a range
  // of ids no trigram uses.
  std::map<std::array<int, 3>, std::int64_t> gramIds;
  for (std::size_t p = 0; p < lines_.size(); ++p) {
    if (p % 4096 == 0) checkpoint();
    Line& line = lines_[p];
    if (line.ids.size() < 3) {
      for (int id : line.distinct) line.grams.push_back(-1 - static_cast<std::int64_t>(id));
    } else {
      for (std::size_t k = 0; k + 3 <= line.ids.size(); ++k) {
        std::array<int, 3> gram{line.ids[k], line.ids[k + 1], line.ids[k + 2]};
        line.grams.push_back(gramIds.emplace(gram, static_cast<std::int64_t>(gramIds.size())).first->second);
      }
    }
    std::sort(line.grams.begin(), line.grams.end());
    line.grams.erase(std::unique(line.grams.begin(), line.grams.end()), line.grams.end());
  }

  byStart_.resize(utts_.size());
  for (std::size_t p = 0; p < utts_.size(); ++p) byStart_[p] = static_cast<int>(p);
  std::stable_sort(byStart_.begin(), byStart_.end(),
                   [&](int a, int b) { return at(a).range.start < at(b).range.start; });

  postings_.resize(types.size());
  for (std::size_t p = 0; p < lines_.size(); ++p)
    for (int id : lines_[p].distinct) postings_[static_cast<std::size_t>(id)].push_back(static_cast<int>(p));

  // Near matches between distinct long tokens: those sharing the first four
  // characters (at any length), then any within two of each other's length.
  long_.resize(types.size());
  near_.resize(types.size());
  std::vector<int> longIds;
  for (int id = 0; id < static_cast<int>(types.size()); ++id) {
    long_[static_cast<std::size_t>(id)] = types.length(id) >= TextAlign::detail::kNearMatchLength;
    if (long_[static_cast<std::size_t>(id)]) longIds.push_back(id);
  }
  auto link = [&](int x, int y) {
    near_[static_cast<std::size_t>(x)].push_back(y);
    near_[static_cast<std::size_t>(y)].push_back(x);
  };
  std::map<TextAlign::TokenTypes::Head, std::vector<int>> heads;
  for (int id : longIds) heads[types.head(id)].push_back(id);
  for (const auto& [head, ids] : heads)
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (i % 256 == 0) checkpoint();
      for (std::size_t j = i + 1; j < ids.size(); ++j) link(ids[i], ids[j]);
    }
  std::stable_sort(longIds.begin(), longIds.end(), [&](int x, int y) { return types.length(x) < types.length(y); });
  for (std::size_t i = 0; i < longIds.size(); ++i) {
    if (i % 256 == 0) checkpoint();
    const int x = longIds[i];
    for (std::size_t j = i + 1; j < longIds.size() && types.length(longIds[j]) <= types.length(x) + 2; ++j) {
      if (types.isNear(x, longIds[j])) link(x, longIds[j]);
    }
  }
  for (auto& list : near_) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
}

bool SimilarityIndex::nearTokens(int x, int y) const {
  const auto& list = near_[static_cast<std::size_t>(x)];
  return std::binary_search(list.begin(), list.end(), y);
}

// The shared-opening test over interned tokens (equal ids are canonically
// equal texts): the first two tokens alike, or two of the first three.
bool SimilarityIndex::sharesOpening(int a, int b) const {
  const auto& x = lines_[static_cast<std::size_t>(a)].ids;
  const auto& y = lines_[static_cast<std::size_t>(b)].ids;
  if (x.size() < 2 || y.size() < 2) return false;
  if (x[0] == y[0] && x[1] == y[1]) return true;
  if (x.size() == 2 || y.size() == 2) return false;
  return (x[0] == y[0]) + (x[1] == y[1]) + (x[2] == y[2]) >= 2;
}

double SimilarityIndex::jaccardOf(const Line& a, const Line& b) const {
  if (a.grams.empty() && b.grams.empty()) return 0;
  const std::size_t common = sharedCount(a.grams, b.grams);
  return static_cast<double>(common) / static_cast<double>(a.grams.size() + b.grams.size() - common);
}

double SimilarityIndex::overlapShare(std::size_t shared, const Line& a, const Line& b) {
  return static_cast<double>(shared) /
         static_cast<double>(std::max<std::size_t>(1, std::min(a.distinct.size(), b.distinct.size())));
}

inline bool SimilarityIndex::isRendition(int a, int b, std::size_t shared) const {
  const Line& x = lines_[static_cast<std::size_t>(a)];
  const Line& y = lines_[static_cast<std::size_t>(b)];
  if (x.ids.size() < kRenditionMinTokens || y.ids.size() < kRenditionMinTokens) return false;
  return (overlapShare(shared, x, y) >= kRenditionOverlap || sharesOpening(a, b)) &&
         openingAwareAtLeast(a, b, kRenditionSimilarity);
}

// Best local alignment score, with every pair that might be a near match
// scored as one: never below the toolkit's best.
int SimilarityIndex::alignmentBound(const Line& a, const Line& b) const {
  const std::size_t n = b.ids.size();
  scratch_.assign(2 * (n + 1), 0);
  int* up = scratch_.data();
  int* row = up + n + 1;
  int best = 0;
  std::size_t rows = 0;
  for (int x : a.ids) {
    if (++rows % 256 == 0) checkpoint();
    row[0] = 0;
    const bool xLong = long_[static_cast<std::size_t>(x)];
    for (std::size_t j = 1; j <= n; ++j) {
      int y = b.ids[j - 1];
      int pair = x == y ? 2 : (xLong && long_[static_cast<std::size_t>(y)] && nearTokens(x, y) ? 1 : -1);
      int value = std::max({0, up[j - 1] + pair, up[j] - 1, row[j - 1] - 1});
      row[j] = value;
      best = std::max(best, value);
    }
    std::swap(up, row);
  }
  return best;
}

bool SimilarityIndex::mayReach(int a, int b, double threshold) const {
  if (threshold <= 0) return true;
  const Line& x = lines_[static_cast<std::size_t>(a)];
  const Line& y = lines_[static_cast<std::size_t>(b)];
  const std::size_t shorter = std::min(x.ids.size(), y.ids.size());
  if (shorter == 0) return false;
  if (jaccardOf(x, y) >= threshold - kSlack) return true;
  return static_cast<double>(alignmentBound(x, y)) / (2.0 * static_cast<double>(shorter)) >= threshold - kSlack;
}

double SimilarityIndex::openingAware(int a, int b) const {
  auto [it, fresh] = openingAware_.try_emplace(key(a, b), 0.0);
  if (fresh) it->second = TakeSelector::openingAwareSimilarity(at(a).tokens, at(b).tokens);
  return it->second;
}

double SimilarityIndex::retake(int a, int b) const {
  auto [it, fresh] = retake_.try_emplace(key(a, b), 0.0);
  if (fresh) it->second = TakeSelector::retakeSimilarity(at(a), at(b));
  return it->second;
}

const TextAlign::LocalAlignment& SimilarityIndex::alignment(int a, int b) const {
  auto [it, fresh] = alignment_.try_emplace(key(a, b));
  if (fresh) it->second = TextAlign::localAlign(at(a).tokens, at(b).tokens, -1.0);
  return it->second;
}

// Without a shared opening both similarities are the larger of the local
// alignment score and the trigram Jaccard similarity, which mayReach bounds.
bool SimilarityIndex::openingAwareAtLeast(int a, int b, double threshold) const {
  if (!sharesOpening(a, b) && !mayReach(a, b, threshold)) return false;
  return openingAware(a, b) >= threshold;
}

bool SimilarityIndex::retakeAtLeast(int a, int b, double threshold) const {
  if (!sharesOpening(a, b) && !mayReach(a, b, threshold)) return false;
  return retake(a, b) >= threshold;
}

double SimilarityIndex::overlap(int a, int b) const {
  const Line& x = lines_[static_cast<std::size_t>(a)];
  const Line& y = lines_[static_cast<std::size_t>(b)];
  return overlapShare(sharedCount(x.distinct, y.distinct), x, y);
}

std::vector<int> SimilarityIndex::partnersAfter(int a, double threshold, int from) const {
  // One call can pass over every other line, so it looks at the stop as it goes.
  checkpoint();
  std::vector<int> result;
  const int first = std::max(a + 1, from);
  if (threshold <= 0) {
    for (int p = first; p < size(); ++p) result.push_back(p);
    return result;
  }
  // Upper bound of the alignment score from a's side: 2 for every token of a
  // that occurs in the other list, 1 for one that may be near a token of it.
  auto& bound = bound_;
  auto& credited = credited_;
  bound.resize(utts_.size(), 0);
  credited.resize(utts_.size(), -1);
  std::vector<int> touched;
  const Line& line = lines_[static_cast<std::size_t>(a)];
  // The scratch lists are left clean however this ends, a stop included.
  struct Clean {
    std::vector<int>& touched;
    std::vector<int>& bound;
    std::vector<int>& credited;
    ~Clean() {
      for (int p : touched) {
        bound[static_cast<std::size_t>(p)] = 0;
        credited[static_cast<std::size_t>(p)] = -1;
      }
    }
  } clean{touched, bound, credited};
  auto credit = [&](int id, int amount, int slot) {
    const auto& list = postings_[static_cast<std::size_t>(id)];
    for (auto it = std::lower_bound(list.begin(), list.end(), first); it != list.end(); ++it) {
      auto p = static_cast<std::size_t>(*it);
      if (credited[p] == slot) continue;
      credited[p] = slot;
      if (bound[p] == 0) touched.push_back(*it);
      bound[p] += amount;
    }
  };
  for (std::size_t k = 0; k < line.ids.size(); ++k) {
    if (k % 64 == 63) checkpoint();
    int slot = static_cast<int>(k);
    credit(line.ids[k], 2, slot);
    for (int y : near_[static_cast<std::size_t>(line.ids[k])]) credit(y, 1, slot);
  }
  // Lists sharing nothing align to nothing and have no trigram in common.
  std::sort(touched.begin(), touched.end());
  std::size_t looked = 0;
  for (int p : touched) {
    if (++looked % 1024 == 0) checkpoint();
    const Line& other = lines_[static_cast<std::size_t>(p)];
    double shorter = static_cast<double>(std::min(line.ids.size(), other.ids.size()));
    bool keep = sharesOpening(a, p) || jaccardOf(line, other) >= threshold - kSlack;
    if (!keep && bound[static_cast<std::size_t>(p)] / (2.0 * shorter) >= threshold - kSlack)
      keep = mayReach(a, p, threshold);
    if (keep) result.push_back(p);
  }
  return result;
}

std::vector<int> SimilarityIndex::startingBetween(double from, double to) const {
  auto first = std::lower_bound(byStart_.begin(), byStart_.end(), from,
                                [&](int p, double value) { return at(p).range.start < value; });
  std::vector<int> found;
  for (auto it = first; it != byStart_.end() && at(*it).range.start <= to; ++it) found.push_back(*it);
  std::sort(found.begin(), found.end());
  return found;
}

bool SimilarityIndex::isRendition(int a, int b) const {
  return isRendition(
      a, b, sharedCount(lines_[static_cast<std::size_t>(a)].distinct, lines_[static_cast<std::size_t>(b)].distinct));
}

const std::vector<std::pair<double, int>>& SimilarityIndex::renditionsOf(int a) const {
  if (auto found = renditions_.find(a); found != renditions_.end()) return found->second;
  std::vector<std::pair<double, int>> list;
  const Line& line = lines_[static_cast<std::size_t>(a)];
  if (line.ids.size() >= kRenditionMinTokens) {
    // Tokens in common with every other line; a rendition shares at least one
    // (through the overlap or the opening), so only those lines are examined.
    auto& common = bound_;
    common.resize(utts_.size(), 0);
    std::vector<int> touched;
    // Left clean however this ends, a stop included.
    struct Clean {
      std::vector<int>& touched;
      std::vector<int>& common;
      ~Clean() {
        for (int p : touched) common[static_cast<std::size_t>(p)] = 0;
      }
    } clean{touched, common};
    for (int id : line.distinct) {
      checkpoint();
      for (int p : postings_[static_cast<std::size_t>(id)])
        if (common[static_cast<std::size_t>(p)]++ == 0) touched.push_back(p);
    }
    std::size_t looked = 0;
    for (int p : touched) {
      if (++looked % 1024 == 0) checkpoint();
      const auto shared = static_cast<std::size_t>(common[static_cast<std::size_t>(p)]);
      if (at(p).index != at(a).index && isRendition(a, p, shared)) list.emplace_back(at(p).range.start, p);
    }
  }
  std::sort(list.begin(), list.end());
  return renditions_.emplace(a, std::move(list)).first->second;
}

bool SimilarityIndex::hasRenditionNear(int a, double time, double reach) const {
  const auto& list = renditionsOf(a);
  auto it = std::lower_bound(list.begin(), list.end(), std::make_pair(time - reach, -1));
  for (; it != list.end() && it->first <= time + reach; ++it)
    if (std::abs(it->first - time) <= reach) return true;
  return false;
}

}  // namespace kestrane
