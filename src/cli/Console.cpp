#include "Console.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>

#include <fmt/format.h>

#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::cli {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The terminal's width, so a redrawn line never wraps (a wrapped line cannot be redrawn).
std::size_t columns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// Cut to `width` characters, counting UTF-8 lead bytes.
std::string fitted(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == width) return text.substr(0, i);
  }
  return text;
}

}  // namespace

Console::Console(std::ostream& out, std::ostream& err, bool live, std::chrono::milliseconds quietFor)
    : out_(out), err_(err), live_(live), quietFor_(quietFor) {
  if (!live_) return;
  ticker_ = std::jthread([this](std::stop_token done) {
    std::mutex sleep;
    std::condition_variable_any wake;
    std::unique_lock lock(sleep);
    for (;;) {
      wake.wait_for(lock, done, std::chrono::milliseconds(250), [] { return false; });
      if (done.stop_requested()) return;
      std::lock_guard guard(mutex_);
      if (label_) drawLocked();
    }
  });
}

Console::~Console() {
  ticker_ = {};
  std::lock_guard guard(mutex_);
  endStageLocked();
}

std::string Console::stageLine(const std::string& label, double elapsed, std::optional<double> fraction) {
  if (!fraction) return fmt::format("{}…  {}", label, timeStamp(elapsed));
  const double f = std::clamp(*fraction, 0.0, 1.0);
  std::string text = fmt::format("{}  {:3}%  {} elapsed", label, static_cast<int>(f * 100), timeStamp(elapsed));
  // Early fractions say little about the rest; an estimate waits for a steadier rate.
  if (f >= 0.02 && elapsed >= 1 && f < 1) {
    text += " · about " + timeStamp(std::ceil(elapsed * (1 - f) / f)) + " left";
  }
  return text;
}

void Console::drawLocked(bool ended) {
  const double elapsed = secondsSince(started_);
  // An ended stage keeps its label and the time it took.
  const std::string text = ended ? *label_ + "  " + timeStamp(elapsed) : stageLine(*label_, elapsed, fraction_);
  out_ << '\r' << fitted(text, columns() - 1) << "\x1b[K" << std::flush;
  drawn_ = Clock::now();
}

void Console::endStageLocked() {
  if (!label_) return;
  if (live_) {
    drawLocked(true);
    out_ << '\n' << std::flush;
  } else if (!stopping_) {
    out_ << *label_ << " — done in " << timeStamp(secondsSince(started_)) << std::endl;
  }
  label_.reset();
}

void Console::stage(const std::string& label) {
  std::lock_guard guard(mutex_);
  endStageLocked();
  if (stopping_) return;
  label_ = label;
  fraction_.reset();
  started_ = Clock::now();
  tenthsShown_ = 0;
  if (!live_) {
    out_ << label << std::endl;
    return;
  }
  drawLocked();
}

void Console::progress(double fraction) {
  std::lock_guard guard(mutex_);
  if (!label_) return;
  const double f = std::clamp(fraction, 0.0, 1.0);
  // Never backwards, and at most ten redraws a second.
  if (fraction_ && f <= *fraction_) return;
  fraction_ = f;
  if (!live_) {
    // A log gets a line per further tenth of a long stage, never more.
    const int tenths = static_cast<int>(f * 10);
    if (tenths > tenthsShown_ && tenths < 10 && Clock::now() - started_ >= quietFor_) {
      tenthsShown_ = tenths;
      out_ << stageLine(*label_, secondsSince(started_), f) << std::endl;
    }
    return;
  }
  if (Clock::now() - drawn_ >= std::chrono::milliseconds(100)) drawLocked();
}

void Console::line(const std::string& text) {
  std::lock_guard guard(mutex_);
  endStageLocked();
  out_ << text << std::endl;
}

void Console::error(const std::string& text) {
  std::lock_guard guard(mutex_);
  endStageLocked();
  err_ << text << std::endl;
}

void Console::stopping() {
  std::lock_guard guard(mutex_);
  // A stage cut short keeps its line on a terminal and ends without its time in a log.
  if (live_) endStageLocked();
  label_.reset();
  stopping_ = true;
  err_ << "Stopping…" << std::endl;
}

}  // namespace kestrane::cli
