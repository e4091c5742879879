// The run entry. The media, decision and writer components it drives are still landing;
// until they do, a job reports that it cannot run yet.
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

Analysis analyze(const std::filesystem::path&, const ProgressCallback&, std::stop_token) {
  throw PipelineError("Media analysis is not available in this build yet.");
}

Output run(const Request&, const std::optional<Analysis>&, const ProgressCallback&, std::stop_token) {
  throw PipelineError("The cut pipeline is not available in this build yet.");
}

}  // namespace kestrane::Pipeline
