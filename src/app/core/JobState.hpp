#pragma once
// Which screen the window shows, and what that screen needs to know.
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app {

enum class Screen {
  idle,         // nothing loaded: the drop zone
  configuring,  // footage or a reopened session loaded: the options
  running,      // a cut runs: the checklist
  done,         // a cut finished or a package was reopened: the results
  failed,       // a cut failed: the failure view
};

struct JobState {
  Screen screen = Screen::idle;
  std::optional<Pipeline::Stage> stage;            // while running: the stage last reported
  std::shared_ptr<const Pipeline::Output> output;  // when done
  QString message;                                 // when failed
  // When failed: what the failure left to tell besides, one sentence a line (what became of a
  // package written before its rough cut failed, and of the movie already in it).
  QStringList notes;

  static JobState idle() { return {}; }
  static JobState configuring() { return {Screen::configuring}; }
  static JobState running(Pipeline::Stage stage) { return {Screen::running, std::move(stage)}; }
  static JobState done(Pipeline::Output output) {
    return {Screen::done, std::nullopt, std::make_shared<const Pipeline::Output>(std::move(output))};
  }
  static JobState failed(QString message, QStringList notes = {}) {
    return {Screen::failed, std::nullopt, {}, std::move(message), std::move(notes)};
  }
};

enum class PreAnalysisState { none, working, ready, failed };

}  // namespace kestrane::app
