// The AI retry entry: a stored cut redone with the AI adjudication on and every other choice
// as stored. The second opinion is the whole point of it: when it can't be had the retry fails
// and the package keeps the cut it has, AI-reviewed or not.
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline {

Output retryAdjudication(const std::filesystem::path& sessionURL, bool renderMP4, const ProgressCallback& progress,
                         std::stop_token stop, const Services& services) {
  const StopScope stopScope(stop);
  RecutRequest request;
  request.sessionURL = sessionURL;
  // The stored settings as they stand once the package is held.
  request.settingsOver = [](const KestraneSession& stored) {
    PipelineSettings settings = stored.settings;
    settings.aiAdjudication = true;
    return settings;
  };
  request.renderMP4 = renderMP4;
  request.services = services;
  return detail::recutSession(request, progress, stop, true);
}

}  // namespace kestrane::Pipeline
