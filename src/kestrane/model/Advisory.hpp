#pragma once
#include <string>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

// A note for the editor about a stretch of source time; it never removes anything.
struct Advisory {
  TimeRange range;
  std::string note;

  friend bool operator==(const Advisory&, const Advisory&) = default;
};

}  // namespace kestrane
