#include "RecutCommand.hpp"

#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

namespace {

// A path that names no session is a mistake on the command line (exit 2), not a failed job.
std::filesystem::path namedSessionFile(const std::filesystem::path& sessionOrPackage) {
  try {
    return Pipeline::sessionFileFor(sessionOrPackage);
  } catch (const Pipeline::PipelineError& e) {
    throw UsageError(e.what());
  }
}

}  // namespace

int runRecut(const RecutOptions& options, Console& console, std::stop_token stop) {
  Pipeline::RecutRequest request;
  request.sessionURL = namedSessionFile(options.sessionOrPackage);
  request.renderMP4 = options.mp4;
  request.projectName = options.projectName;
  request.dropScript = options.dropScript;
  request.useClaude = options.graphics.ideas;
  request.brandSpec = options.graphics.brand;
  request.services.aiBackend = [] { return ModelClient::detectBackend(); };
  request.projectNotes = options.notes;
  return runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        request.settings =
            Pipeline::recutSettings(options.choices, KestraneSession::read(request.sessionURL));
        return Pipeline::recut(request, progress, stop);
      },
      console)
      .status;
}

int runRetry(const RetryOptions& options, Console& console, std::stop_token stop) {
  const std::filesystem::path sessionFile = namedSessionFile(options.sessionOrPackage);
  return runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        Pipeline::Services services;
        services.aiBackend = ModelClient::detectBackend;
        return Pipeline::retryAdjudication(sessionFile, options.mp4, progress, stop, services);
      },
      console)
      .status;
}

}  // namespace kestrane::cli
