#pragma once
// Where a command reports. On a terminal each stage is one self-updating line with its
// percentage, elapsed time and time left; elsewhere (a log, a pipe) nothing is redrawn, so logs
// hold no control characters: a stage is a plain line as it starts and one with its elapsed
// time as it ends, and a stage that runs long adds a line at each further tenth of the way.
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
  // Elsewhere, a stage reports its tenths only once it has run for `quietFor`.
  Console(std::ostream& out, std::ostream& err, bool live = false,
          std::chrono::milliseconds quietFor = std::chrono::seconds(5));
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
  static std::string stageLine(const std::string& label, double elapsed, std::optional<double> fraction);

 private:
  void endStageLocked();
  void drawLocked(bool ended = false);

  std::ostream& out_;
  std::ostream& err_;
  const bool live_;
  const std::chrono::milliseconds quietFor_;
  int tenthsShown_ = 0;  // away from a terminal: the tenths of the stage already printed
  std::mutex mutex_;
  std::optional<std::string> label_;  // the stage whose line is open
  std::optional<double> fraction_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
  bool stopping_ = false;
  std::jthread ticker_;  // live only: keeps the elapsed time moving between reports
};

}  // namespace kestrane::cli
