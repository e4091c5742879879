#pragma once
// Why a job stopped. The message is the one shown to the user.
#include <filesystem>
#include <string>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::Pipeline {

class PipelineError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;

  static PipelineError sessionNotRecuttable(const std::string& reason) {
    return PipelineError("Can't re-cut from this session: " + reason);
  }
};

// The rough cut of a new package failed to render; the package itself is complete and stays.
class RoughCutFailed : public PipelineError {
 public:
  RoughCutFailed(const std::string& message, std::filesystem::path package)
      : PipelineError(message), package_(std::move(package)) {}

  const std::filesystem::path& package() const { return package_; }

 private:
  std::filesystem::path package_;
};

}  // namespace kestrane::Pipeline
