#pragma once
// Recognised words in time order with the lookups the planner makes around a point in time.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane {

class WordTimeline {
 public:
  explicit WordTimeline(std::span<const TranscriptWord> words);

  bool empty() const { return index_.empty(); }
  std::size_t size() const { return index_.size(); }
  // The word at a position in time order.
  const TranscriptWord& at(std::size_t position) const { return words_[index_.item(position)]; }
  // The position in the given list of the word at a position in time order.
  std::size_t item(std::size_t position) const { return index_.item(position); }
  double midpoint(std::size_t position) const { return (index_.start(position) + index_.end(position)) / 2; }

  // Positions, in time order, of the words whose midpoint lies in the range (start <= mid < end).
  std::vector<std::size_t> lyingIn(const TimeRange& range) const;
  std::optional<std::size_t> firstLyingIn(const TimeRange& range) const;
  bool anyLyingIn(const TimeRange& range) const { return firstLyingIn(range).has_value(); }

  // The latest word with start < x < end.
  std::optional<std::size_t> lastStraddling(double x) const;
  // The latest word starting before `startsBefore` that ends at or before `endsBy`.
  std::optional<std::size_t> lastEndingBy(double endsBy, double startsBefore) const;
  // The latest word whose midpoint lies before x.
  std::optional<std::size_t> lastMidpointBefore(double x) const;
  // Positions, in time order, of the words that overlap the range.
  std::vector<std::size_t> overlapping(const TimeRange& range) const;

 private:
  // Candidate positions for a midpoint test against [a, b).
  std::size_t candidatesFrom(double a) const { return index_.firstReaching(a); }
  std::size_t candidatesTo(double b) const { return index_.startingBefore(b); }

  std::span<const TranscriptWord> words_;
  RangeIndex index_;
};

}  // namespace kestrane
