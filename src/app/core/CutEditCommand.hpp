#pragma once
// One hand edit as an undo step: it swaps the overrides between the lists before and after.
#include <QUndoCommand>

#include <functional>

#include "app/core/HandEdits.hpp"

namespace kestrane::app {

class CutEditCommand : public QUndoCommand {
 public:
  using Apply = std::function<void(const ManualEdits&)>;

  CutEditCommand(Apply apply, ManualEdits before, ManualEdits after);

  void undo() override;
  void redo() override;

 private:
  Apply apply_;
  ManualEdits before_;
  ManualEdits after_;
};

}  // namespace kestrane::app
