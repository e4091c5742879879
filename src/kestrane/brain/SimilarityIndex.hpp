#pragma once
// Pair similarities of the utterances of one decision, computed once and
// remembered. Long recordings hold thousands of utterances and several stages
// compare nearly all pairs, so pairs that cannot reach a threshold are ruled
// out by cheap upper bounds over interned tokens first; the values reported
// are always the text toolkit's own.
#include <cstdint>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/FreeAside.hpp"

namespace kestrane {

// Values of ordered pairs, remembered in many small tables. One table of tens of millions would
// now and then rehash them all at once: a pause of most of a second that no stop can cut short.
// A memo that large is freed aside for the same reason.
template <class Value>
class PairMemo {
 public:
  PairMemo() = default;
  PairMemo(const PairMemo&) = default;
  PairMemo& operator=(const PairMemo&) = default;
  PairMemo(PairMemo&& other) noexcept
      : shards_(std::exchange(other.shards_, {})), size_(std::exchange(other.size_, 0)) {}
  PairMemo& operator=(PairMemo&& other) noexcept {
    shards_ = std::exchange(other.shards_, {});
    size_ = std::exchange(other.size_, 0);
    return *this;
  }
  ~PairMemo() {
    if (size_ >= kLarge) freeAside(std::move(shards_));
  }

  template <class... Args>
  auto try_emplace(std::uint64_t key, Args&&... args) {
    auto result = shards_[shardOf(key)].try_emplace(key, std::forward<Args>(args)...);
    if (result.second) ++size_;
    return result;
  }

 private:
  using Shard = std::unordered_map<std::uint64_t, Value>;
  static constexpr int kShardBits = 10;
  static constexpr std::size_t kLarge = 1'000'000;
  static std::size_t shardOf(std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kShardBits));
  }

  std::vector<Shard> shards_ = std::vector<Shard>(std::size_t{1} << kShardBits);
  std::size_t size_ = 0;
};

class SimilarityIndex {
 public:
  using Utterance = TakeSelector::Utterance;

  explicit SimilarityIndex(std::span<const Utterance> utterances);

  // Positions below are places in the utterance list given to the constructor.
  std::span<const Utterance> utterances() const { return utts_; }
  int size() const { return static_cast<int>(utts_.size()); }
  const Utterance& at(int position) const { return utts_[static_cast<std::size_t>(position)]; }

  // Toolkit values, remembered per ordered pair.
  double openingAware(int a, int b) const;
  double retake(int a, int b) const;
  const TextAlign::LocalAlignment& alignment(int a, int b) const;  // gap -1

  // The same tests against a threshold, skipping the toolkit when a bound rules the pair out.
  bool openingAwareAtLeast(int a, int b, double threshold) const;
  bool retakeAtLeast(int a, int b, double threshold) const;

  // Share of distinct tokens in common, over the smaller token set (at least 1).
  double overlap(int a, int b) const;

  // False only when neither the local alignment score nor the trigram Jaccard
  // similarity of the two token lists can reach threshold.
  bool mayReach(int a, int b, double threshold) const;

  // Every position after a, and at least `from`, whose opening-aware similarity
  // to a may reach threshold (a superset of those that do), ascending.
  std::vector<int> partnersAfter(int a, double threshold, int from = 0) const;

  // Positions whose start lies in [from, to], ascending.
  std::vector<int> startingBetween(double from, double to) const;

  // Two renditions of one line (a's tokens first): more than 3 tokens each, a
  // token overlap of 0.35 or a shared opening, and an opening-aware similarity
  // of at least 0.5.
  bool isRendition(int a, int b) const;
  // Whether some utterance with another index, starting within reach seconds
  // of time, is a rendition of a's line.
  bool hasRenditionNear(int a, double time, double reach) const;
  // Every utterance with another index that is a rendition of a's line, as
  // (start, position), ordered by start.
  const std::vector<std::pair<double, int>>& renditionsOf(int a) const;

 private:
  struct Line {
    std::vector<int> ids;             // token ids in order
    std::vector<int> distinct;        // sorted unique token ids
    std::vector<std::int64_t> grams;  // sorted unique trigram ids (token ids when shorter than 3)
  };

  bool sharesOpening(int a, int b) const;
  // isRendition with the number of distinct tokens the two share already known
  // (inline: the rendition lists ask it of every line sharing a token with theirs).
  inline bool isRendition(int a, int b, std::size_t shared) const;
  // Share of distinct tokens in common, given how many they share.
  static double overlapShare(std::size_t shared, const Line& a, const Line& b);
  bool nearTokens(int x, int y) const;
  int alignmentBound(const Line& a, const Line& b) const;
  double jaccardOf(const Line& a, const Line& b) const;
  static std::uint64_t key(int a, int b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) | static_cast<std::uint32_t>(b);
  }

  std::span<const Utterance> utts_;
  std::vector<Line> lines_;
  std::vector<std::vector<int>> postings_;  // token id -> ascending positions holding it
  std::vector<std::vector<int>> near_;      // token id -> sorted ids that may be near matches
  std::vector<bool> long_;                  // token id has at least 4 characters
  std::vector<int> byStart_;                // positions ordered by start

  mutable PairMemo<double> openingAware_;
  mutable PairMemo<double> retake_;
  mutable PairMemo<TextAlign::LocalAlignment> alignment_;
  mutable std::unordered_map<int, std::vector<std::pair<double, int>>> renditions_;
  mutable std::vector<int> scratch_;
  mutable std::vector<int> bound_, credited_;
};

}  // namespace kestrane
