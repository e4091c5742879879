#pragma once
// Where a command reports. On a terminal each stage is one self-updating line with its
// percentage, elapsed time and time left; elsewhere (a log, a pipe) each stage is one plain
// line and nothing is redrawn, so logs hold no control characters.
#include <chrono>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

namespace kestrane::cli {

class Console {
 public:
  // `live` when `out` is a terminal; a live console redraws the stage line while it runs.
  Console(std::ostream& out, std::ostream& err, bool live = false);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // A stage began; the previous one ends.
  void stage(const std::string& label);
  // How far the current stage is, from 0 to 1. Shown only on a live console.
  void progress(double fraction);
  // One finished line on `out` or `err`, below the current stage line.
  void line(const std::string& text);
  void error(const std::string& text);
  // Acknowledges a stop request at once: "Stopping…" on `err`, and no more stage lines.
  void stopping();

  // What a live stage line reads after `elapsed` seconds at `fraction` (absent when the stage
  // reports none).
  static std::string stageLine(const std::string& label, double elapsed,
                               std::optional<double> fraction);

 private:
  void endStageLocked();
  void drawLocked(bool ended = false);

  std::ostream& out_;
  std::ostream& err_;
  const bool live_;
  std::mutex mutex_;
  std::optional<std::string> label_;  // the stage whose line is open
  std::optional<double> fraction_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
  bool stopping_ = false;
  std::jthread ticker_;  // live only: keeps the elapsed time moving between reports
};

}  // namespace kestrane::cli
