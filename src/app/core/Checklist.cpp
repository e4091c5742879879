#include "app/core/Checklist.hpp"

#include <algorithm>

namespace kestrane::app {

namespace {

// Position in the full stage list; a stage not found there counts as the first.
std::ptrdiff_t position(const Pipeline::Stage& stage) {
  const auto& all = Pipeline::Stage::allCases();
  const auto found = std::find(all.begin(), all.end(), stage);
  return found == all.end() ? 0 : found - all.begin();
}

}  // namespace

std::vector<ChecklistRow> checklistRows(const Pipeline::Stage& current, const std::vector<Pipeline::Stage>& steps) {
  const Pipeline::Stage anchor = current.checklistAnchor();
  const std::ptrdiff_t anchorPosition = position(anchor);
  std::vector<ChecklistRow> rows;
  for (const Pipeline::Stage& step : steps) {
    if (step.anchorValue) continue;
    ChecklistRow row{QString::fromStdString(step.rawValue)};
    if (step == anchor) {
      row.status = RowStatus::current;
      row.label = QString::fromStdString(current.rawValue);
    } else if (position(step) < anchorPosition) {
      row.status = RowStatus::done;
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace kestrane::app
