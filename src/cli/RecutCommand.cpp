#include "RecutCommand.hpp"

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

int runRecut(const RecutOptions& options, Console& console, std::stop_token stop) {
  const std::filesystem::path sessionFile = sessionFileFor(options.sessionOrPackage);
  return runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        const PipelineSettings settings =
            recutSettings(options, KestraneSession::read(sessionFile));
        return Pipeline::recut(sessionFile, settings, options.mp4, false, options.projectName,
                               std::nullopt, std::nullopt, true, std::nullopt, std::nullopt,
                               options.dropScript, progress, stop);
      },
      console)
      .status;
}

int runRetry(const RetryOptions& options, Console& console, std::stop_token stop) {
  const std::filesystem::path sessionFile = sessionFileFor(options.sessionOrPackage);
  return runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        return Pipeline::retryAdjudication(sessionFile, options.mp4, progress, stop);
      },
      console)
      .status;
}

}  // namespace kestrane::cli
