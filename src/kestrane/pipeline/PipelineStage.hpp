#pragma once
// The steps a job announces while it runs, in the order of the progress checklist.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrane::Pipeline {

struct Stage {
  // The label shown to the user; the stage's identity.
  std::string rawValue;
  // The checklist row an announcement belongs under; absent for every ordinary stage.
  // Only the pipeline sets it (retry notices and per-graphic reports).
  std::optional<std::string> anchorValue;
  // How much of the stage is done, 0…1, where that is known (transcribing, rendering). The
  // announcement that a stage starts carries none; later reports of the same stage do.
  std::optional<double> fraction;

  explicit Stage(std::string label) : rawValue(std::move(label)) {}

  static const Stage probing;
  static const Stage detectingSilence;
  static const Stage transcribing;
  static const Stage decidingEdits;
  static const Stage consultingClaude;
  static const Stage consultingClaudeRetry2;
  static const Stage consultingClaudeRetry3;
  // The self-review's retries, under its own row: it is no second opinion.
  static const Stage reviewingCutRetry2;
  static const Stage reviewingCutRetry3;
  static const Stage reviewingCut;
  static const Stage exporting;
  static const Stage generatingIdeas;
  static const Stage preparingGraphics;
  static const Stage rendering;

  // The twelve stages above but the self-review's retries, in checklist order.
  static const std::vector<Stage>& allCases();

  // One report of the motion-graphics renderer, shown under "Preparing motion graphics".
  static Stage graphicsAsset(std::string label);

  bool isRetryAnnouncement() const { return anchorValue.has_value(); }

  // This stage, reported with `done` of it finished.
  Stage at(double done) const {
    Stage s = *this;
    s.fraction = done;
    return s;
  }

  // The checklist row this announcement is shown under.
  Stage checklistAnchor() const;

  // Equality ignores the anchor and the fraction: the label is the identity.
  friend bool operator==(const Stage& a, const Stage& b) { return a.rawValue == b.rawValue; }

  static Stage anchored(std::string label, std::string anchor) {
    Stage s(std::move(label));
    s.anchorValue = std::move(anchor);
    return s;
  }
};

// Called once per announcement and per fraction report, never two calls at once, from the
// thread that runs the job or one of its workers. Empty means no reports.
using ProgressCallback = std::function<void(const Stage&)>;

}  // namespace kestrane::Pipeline

template <>
struct std::hash<kestrane::Pipeline::Stage> {
  std::size_t operator()(const kestrane::Pipeline::Stage& s) const noexcept {
    return std::hash<std::string>{}(s.rawValue);
  }
};
