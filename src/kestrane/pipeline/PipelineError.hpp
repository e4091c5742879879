#pragma once
// Why a job stopped. The message is the one shown to the user.
#include <filesystem>
#include <string>
#include <vector>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::Pipeline {

class PipelineError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;

  static PipelineError sessionNotRecuttable(const std::string& reason) {
    return PipelineError("Can't re-cut from this session: " + reason);
  }
};

// The rough cut failed to render; the package itself is complete and stays. `notes` says what
// was written into an existing package and what became of its earlier movie; `warnings` are
// the job's other warnings up to the render.
class RoughCutFailed : public PipelineError {
 public:
  RoughCutFailed(const std::string& message, std::filesystem::path package, std::vector<std::string> notes = {},
                 std::vector<std::string> warnings = {})
      : PipelineError(message),
        package_(std::move(package)),
        notes_(std::move(notes)),
        warnings_(std::move(warnings)) {}

  const std::filesystem::path& package() const { return package_; }
  const std::vector<std::string>& notes() const { return notes_; }
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  std::filesystem::path package_;
  std::vector<std::string> notes_;
  std::vector<std::string> warnings_;
};

}  // namespace kestrane::Pipeline
