// The AI retry entry: a stored cut redone with the AI adjudication on and every other choice
// as stored. When no AI backend is found the decision stage says so in a warning and the
// deterministic cut stands.
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::Pipeline {

Output retryAdjudication(const std::filesystem::path& sessionURL, bool renderMP4, const ProgressCallback& progress,
                         std::stop_token stop, const Services& services) {
  RecutRequest request;
  request.sessionURL = sessionURL;
  request.settings = KestraneSession::read(sessionURL).settings;
  request.settings.aiAdjudication = true;
  request.renderMP4 = renderMP4;
  request.services = services;
  return recut(request, progress, stop);
}

}  // namespace kestrane::Pipeline
