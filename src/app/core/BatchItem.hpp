#pragma once
// One video of a batch: its own inputs, options and hand edits, what its analysis found and how
// its cut ended.
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <vector>

#include "app/core/CutOptions.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app {

struct BatchItem {
  QUuid id = QUuid::createUuid();
  QString footagePath;
  QString projectName;  // as typed; trimmed only when sent
  QString scriptPath;   // empty: none
  // Shared, never changed in place: the editor's draft reads the same analysis.
  std::shared_ptr<const Pipeline::Analysis> analysis;
  bool analysisFailed = false;  // the queue does not try it again

  CutOptions options;

  std::vector<TimeRange> manualKeeps;
  std::vector<TimeRange> manualRemovals;

  // Finished once an output is there, whatever an earlier failure said.
  std::optional<Pipeline::Output> output;
  std::optional<QString> failure;
};

}  // namespace kestrane::app
