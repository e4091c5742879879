// The job model's hand edits: the two override lists and their undo steps.
#include <QUndoStack>

#include "app/core/CutEditCommand.hpp"
#include "app/core/JobModel.hpp"

namespace kestrane::app {

void JobModel::setManualEdits(const ManualEdits& edits) {
  stopAudition();
  manualKeeps_ = edits.keeps;
  manualRemovals_ = edits.removals;
  emit changed();
}

void JobModel::recordEdit(QUndoStack* undo, const ManualEdits& before) {
  ManualEdits after = manualEdits();
  if (!undo || after == before) return;
  // Pushing applies `after`, which the lists already hold.
  undo->push(new CutEditCommand([this](const ManualEdits& edits) { setManualEdits(edits); }, before, std::move(after)));
}

void JobModel::clearManualEdits(QUndoStack* undo) {
  if (!hasManualEdits()) return;
  const ManualEdits before = manualEdits();
  setManualEdits({});
  recordEdit(undo, before);
}

}  // namespace kestrane::app
