#pragma once
// Recognised words with their source times.
#include <string>
#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

struct TranscriptWord {
  std::string text;
  TimeRange range;

  friend bool operator==(const TranscriptWord&, const TranscriptWord&) = default;
};

struct Transcript {
  std::vector<TranscriptWord> words;

  // The words joined by single spaces, nothing trimmed.
  std::string text() const;
};

}  // namespace kestrane
