#include "kestrane/model/CutList.hpp"

#include "kestrane/model/Transcript.hpp"

namespace kestrane {

std::vector<Segment> CutList::keptSegments() const {
  std::vector<Segment> kept;
  for (const auto& s : segments) {
    if (s.isKept()) kept.push_back(s);
  }
  return kept;
}

double CutList::keptDuration() const {
  double total = 0;
  for (const auto& s : segments) {
    if (s.isKept()) total += s.range.end - s.range.start;
  }
  return total;
}

std::string Transcript::text() const {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += ' ';
    out += words[i].text;
  }
  return out;
}

}  // namespace kestrane
