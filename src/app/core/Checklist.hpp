#pragma once
// The rows of the running checklist: which stages are done, which one runs, which wait.
#include <QString>

#include <vector>

#include "kestrane/pipeline/PipelineStage.hpp"

namespace kestrane::app {

enum class RowStatus { done, current, pending };

struct ChecklistRow {
  QString label;
  RowStatus status = RowStatus::pending;
};

// One row per planned stage that is not a retry announcement. A row is done when its stage comes
// before the current stage's row in the full pipeline order, so stages left out of the plan
// leave no gap; the current row shows the current stage's own label (a retry notice included).
std::vector<ChecklistRow> checklistRows(const Pipeline::Stage& current, const std::vector<Pipeline::Stage>& steps);

}  // namespace kestrane::app
