#pragma once
// What can be checked of a job's inputs before any analysis, so that a mistyped path fails in
// a moment instead of after minutes of transcription. Each check throws InputError with the
// one sentence a person is shown.
#include <filesystem>

#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/PipelineRequest.hpp"

namespace kestrane::Pipeline {

class InputError : public PipelineError {
 public:
  using PipelineError::PipelineError;
};

// The footage is a readable, non-empty regular file.
void checkFootage(const std::filesystem::path& footage);

// `dir` is a folder this process may write in, or can be made inside one.
void checkWritableFolder(const std::filesystem::path& dir);

// The script exists, is a file of one of the script types, and reads as text.
void checkScript(const std::filesystem::path& script);

// The request's footage, the folder its package goes in (the output folder, or without one
// the footage's folder) and its script, in that order.
void checkInputs(const Request& request);

}  // namespace kestrane::Pipeline
