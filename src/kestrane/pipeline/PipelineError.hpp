#pragma once
// Why a job stopped. The message is the one shown to the user.
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

}  // namespace kestrane::Pipeline
