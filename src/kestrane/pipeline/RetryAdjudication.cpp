// The AI retry entry: a stored cut redone with the AI adjudication on and every other choice
// as stored. When no AI backend is found the decision stage says so in a warning and the
// deterministic cut stands.
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

Output retryAdjudication(const std::filesystem::path& sessionURL, bool renderMP4,
                         const ProgressCallback& progress, std::stop_token stop) {
  PipelineSettings settings = KestraneSession::read(sessionURL).settings;
  settings.aiAdjudication = true;
  return recut(sessionURL, settings, renderMP4, /*useClaude=*/false, std::nullopt, std::nullopt,
               std::nullopt, /*renderGraphics=*/true, std::nullopt, std::nullopt,
               /*dropScript=*/false, progress, stop);
}

}  // namespace kestrane::Pipeline
