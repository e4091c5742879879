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

// The footage was written, grown or cut short while it was read: a recorder, or a copy, is still
// writing it. A cut of the part written so far would be a package of a recording that isn't
// finished, so none is made.
class FootageStillBeingWritten : public PipelineError {
 public:
  explicit FootageStillBeingWritten(const std::string& path)
      : PipelineError(path +
                      " changed while it was being read, so it is still being written — wait until it is "
                      "saved, then cut it again.") {}
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
