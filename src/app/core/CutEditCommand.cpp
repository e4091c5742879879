#include "app/core/CutEditCommand.hpp"

namespace kestrane::app {

CutEditCommand::CutEditCommand(Apply apply, ManualEdits before, ManualEdits after)
    : QUndoCommand(QStringLiteral("Cut Edit")),
      apply_(std::move(apply)),
      before_(std::move(before)),
      after_(std::move(after)) {}

void CutEditCommand::undo() { apply_(before_); }
void CutEditCommand::redo() { apply_(after_); }

}  // namespace kestrane::app
