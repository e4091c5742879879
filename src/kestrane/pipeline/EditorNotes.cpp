#include <algorithm>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

std::vector<Advisory> mergeEditorNotes(std::vector<Advisory> existing,
                                       const std::vector<Advisory>& added) {
  for (const Advisory& note : added) {
    const bool clashes = std::any_of(existing.begin(), existing.end(), [&](const Advisory& kept) {
      return kept.range.overlaps(note.range);
    });
    if (!clashes) existing.push_back(note);
  }
  std::stable_sort(existing.begin(), existing.end(), [](const Advisory& a, const Advisory& b) {
    return a.range.start < b.range.start;
  });
  return existing;
}

}  // namespace kestrane::Pipeline
