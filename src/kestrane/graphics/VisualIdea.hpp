#pragma once
// One planned graphic of the visual-ideas document.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/GraphicsDensity.hpp"

namespace kestrane {

// Whether an idea's in-point was measured from the cut transcript or is the document's guess.
enum class PlacementSource { anchored, estimated };

template <>
struct EnumText<PlacementSource> {
  static constexpr std::array<std::string_view, 2> texts{"anchored", "estimated"};
};

struct VisualIdea {
  double placementSeconds = 0;
  std::string name;
  std::string type;
  std::string onScreen;
  std::string whyHere;
  std::string device;
  std::string generationPrompt;
  GraphicKind kind = GraphicKind::fullFrame;
  double durationSeconds = 5;
  std::string anchorText;
  double leadInSeconds = 0;
  double leadOutSeconds = 0;
  double estimatedPlacementSeconds = 0;
  double estimatedDurationSeconds = 5;
  PlacementSource placementSource = PlacementSource::estimated;
  std::optional<std::string> matchedText;
  std::optional<double> spokenSeconds;
  std::optional<std::string> anchorIssue;

  bool isMeasured() const { return placementSource == PlacementSource::anchored; }
  std::string timecode() const;
  std::string preciseTimecode() const;
  // "@01-23.5 timeline-snaps-tight (ALPHA overlay).mov"; "@~" for an unmeasured placement.
  std::string fileName() const;

  friend bool operator==(const VisualIdea&, const VisualIdea&) = default;
};

}  // namespace kestrane
