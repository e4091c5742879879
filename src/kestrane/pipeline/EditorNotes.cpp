#include <algorithm>

#include <fmt/format.h>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

std::vector<Advisory> mergeEditorNotes(std::vector<Advisory> existing, const std::vector<Advisory>& added) {
  for (const Advisory& note : added) {
    const bool clashes = std::any_of(existing.begin(), existing.end(),
                                     [&](const Advisory& kept) { return kept.range.overlaps(note.range); });
    if (!clashes) existing.push_back(note);
  }
  std::stable_sort(existing.begin(), existing.end(),
                   [](const Advisory& a, const Advisory& b) { return a.range.start < b.range.start; });
  return existing;
}

std::optional<std::string> spokenNotesSentence(const std::vector<Advisory>& notes, const CutList& cut) {
  if (notes.empty()) return std::nullopt;
  const std::vector<Segment> kept = cut.keptSegments();
  const auto onTimeline = [&kept](const Advisory& note) {
    const double middle = (note.range.start + note.range.end) / 2;
    return std::ranges::any_of(kept, [&](const Segment& s) { return s.range.start <= middle && middle < s.range.end; });
  };
  const auto stays = static_cast<std::size_t>(std::ranges::count_if(notes, onTimeline));
  const std::size_t n = notes.size(), gone = n - stays;
  const std::string head = fmt::format("{} spoken note{} to your editor — ", n, n == 1 ? "" : "s");
  if (stays == 0) return head + "cut from the timeline, marked inside the source clip";
  if (gone == 0) return head + "left on the timeline, marked inside the source clip";
  return head + fmt::format("{} cut from the timeline, {} left on it; all marked inside the source clip", gone, stays);
}

}  // namespace kestrane::Pipeline
