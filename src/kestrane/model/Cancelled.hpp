#pragma once
// The one exception that ends work the caller asked to stop, at every layer. It is neither a
// failure nor a warning: callers let it pass and clean up.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrane {

class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("The cut was cancelled.") {}
  // Stopped once the package of this cut was complete: it stays. `notes` says what the package
  // holds now and what became of its earlier files on the way out, `warnings` what the job had
  // to say by then; `roughCutLeft` that a rough cut was asked for and not made.
  explicit Cancelled(std::filesystem::path keptPackage, std::vector<std::string> notes = {},
                     std::vector<std::string> warnings = {}, bool roughCutLeft = true)
      : std::runtime_error(roughCutLeft ? "The rough cut was cancelled." : "The cut was cancelled."),
        keptPackage_(std::move(keptPackage)),
        notes_(std::move(notes)),
        warnings_(std::move(warnings)),
        roughCutLeft_(roughCutLeft) {}

  const std::optional<std::filesystem::path>& keptPackage() const { return keptPackage_; }
  const std::vector<std::string>& notes() const { return notes_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  bool roughCutLeft() const { return roughCutLeft_; }

 private:
  std::optional<std::filesystem::path> keptPackage_;
  std::vector<std::string> notes_;
  std::vector<std::string> warnings_;
  bool roughCutLeft_ = false;
};

// Throws Cancelled once a stop has been requested through `stop`.
inline void throwIfStopped(const std::stop_token& stop) {
  if (stop.stop_requested()) throw Cancelled();
}

namespace detail {
inline thread_local const std::stop_token* currentStop = nullptr;
}  // namespace detail

// Makes `stop` the token that checkpoint() reads on this thread while the scope lives. The
// decision's long loops are shared with callers that have no job to stop (the live draft), so
// they read the token of whatever job runs them instead of taking one.
class StopScope {
 public:
  explicit StopScope(std::stop_token stop) : stop_(std::move(stop)), previous_(detail::currentStop) {
    detail::currentStop = &stop_;
  }
  ~StopScope() { detail::currentStop = previous_; }
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

 private:
  const std::stop_token stop_;
  const std::stop_token* previous_;
};

// Throws Cancelled when the job running on this thread has been asked to stop; does nothing
// outside a StopScope.
inline void checkpoint() {
  if (detail::currentStop && detail::currentStop->stop_requested()) throw Cancelled();
}

}  // namespace kestrane
