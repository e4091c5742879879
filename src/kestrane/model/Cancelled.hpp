#pragma once
// The one exception that ends work the caller asked to stop, at every layer. It is neither a
// failure nor a warning: callers let it pass and clean up.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <stop_token>

namespace kestrane {

class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("The cut was cancelled.") {}
  // Stopped while rendering the rough cut: the package itself was complete and stays.
  explicit Cancelled(std::filesystem::path keptPackage)
      : std::runtime_error("The rough cut was cancelled."), keptPackage_(std::move(keptPackage)) {}

  const std::optional<std::filesystem::path>& keptPackage() const { return keptPackage_; }

 private:
  std::optional<std::filesystem::path> keptPackage_;
};

// Throws Cancelled once a stop has been requested through `stop`.
inline void throwIfStopped(const std::stop_token& stop) {
  if (stop.stop_requested()) throw Cancelled();
}

}  // namespace kestrane
