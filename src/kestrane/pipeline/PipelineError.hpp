#pragma once
// Why a job stopped. The message is the one shown to the user.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace kestrane::Pipeline {

class PipelineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;

  static PipelineError sessionNotRecuttable(const std::string& reason) {
    return PipelineError("Can't re-cut from this session: " + reason);
  }
};

// Thrown when the caller cancels a job. Never turned into a warning.
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

}  // namespace kestrane::Pipeline
