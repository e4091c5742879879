#pragma once
// What the application asks of the engine, behind one small interface so that tests can put a
// scripted engine in its place. Every call blocks and runs on a worker thread; progress is
// reported on that same thread.
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app {

// The arguments of one re-cut of a stored session.
struct RecutCall {
  std::filesystem::path sessionURL;
  PipelineSettings settings;
  bool renderMP4 = false;
  // Absent keeps the stored name, so the package is re-cut in place.
  std::optional<std::string> projectName;
  // Absent keeps the stored notes; an empty text clears them.
  std::optional<std::string> projectNotes;
  bool dropScript = false;
};

class EngineApi {
 public:
  virtual ~EngineApi() = default;

  virtual Pipeline::Analysis analyze(const std::filesystem::path& input,
                                     const Pipeline::ProgressCallback& progress,
                                     std::stop_token stop) = 0;
  virtual Pipeline::Output run(const Pipeline::Request& request,
                               const std::optional<Pipeline::Analysis>& prepared,
                               const Pipeline::ProgressCallback& progress,
                               std::stop_token stop) = 0;
  virtual Pipeline::Output recut(const RecutCall& call, const Pipeline::ProgressCallback& progress,
                                 std::stop_token stop) = 0;
  // Throws when the speech model for US English is not installed.
  virtual void ensureSpeechModel() = 0;
};

}  // namespace kestrane::app
