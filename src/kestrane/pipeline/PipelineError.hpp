#pragma once
// Why a job stopped. The message is the one shown to the user.
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
};

}  // namespace kestrane::Pipeline
