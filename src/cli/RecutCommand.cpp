#include "RecutCommand.hpp"

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

int runRecut(const RecutOptions& options, std::ostream& out, std::ostream& err,
             std::stop_token stop) {
  return runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        const std::filesystem::path sessionFile = sessionFileFor(options.sessionOrPackage);
        const PipelineSettings settings =
            recutSettings(options, KestraneSession::read(sessionFile));
        return Pipeline::recut(sessionFile, settings, options.mp4, false, options.projectName,
                               std::nullopt, std::nullopt, true, std::nullopt, std::nullopt,
                               options.dropScript, progress, stop);
      },
      out, err);
}

int runRetry(const RetryOptions& options, std::ostream& out, std::ostream& err,
             std::stop_token stop) {
  return runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        return Pipeline::retryAdjudication(sessionFileFor(options.sessionOrPackage), options.mp4,
                                           progress, stop);
      },
      out, err);
}

}  // namespace kestrane::cli
