#pragma once
// Re-timing visual ideas from their verbatim anchor quotes in the cut transcript.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/graphics/VisualIdea.hpp"

namespace kestrane::TranscriptAnchor {

using Words = std::vector<TranscriptExporter::CutWord>;

struct Match {
  double start = 0;
  double end = 0;  // never before start
  std::string text;
  double score = 0;

  double duration() const { return end - start; }
  friend bool operator==(const Match&, const Match&) = default;
};

struct Resolution {
  std::vector<VisualIdea> ideas;  // same order and length as given
  std::vector<std::string> warnings;

  int anchored() const;
  int estimated() const { return static_cast<int>(ideas.size()) - anchored(); }
};

// Where the anchor is said in the cut: two words must occur exactly once; longer anchors align
// with a score of at least 0.6 and at least 0.6 of their tokens paired.
std::optional<Match> locate(std::string_view anchor, const Words& words);
// Why locate found nothing, for the editor.
std::string diagnosis(std::string_view anchor, const Words& words);
std::vector<std::size_t> exactOccurrences(const std::vector<std::string>& needle, const std::vector<std::string>& hay);
// Each idea re-timed from its anchor (lead-in before, hold after, 1.5 s to 30 s, within the cut
// when its length is known), or kept at its estimate with the reason; plus the job warnings.
Resolution resolve(std::vector<VisualIdea> ideas, const Words& words, double cutDuration);

}  // namespace kestrane::TranscriptAnchor
