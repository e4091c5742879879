#include "RecutCommand.hpp"

#include <chrono>
#include <functional>
#include <string>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

namespace {

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// Runs `job` with stage reports on `out` and the usual closing lines.
int report(const std::function<Pipeline::Output(const Pipeline::ProgressCallback&)>& job,
           std::ostream& out, std::ostream& err) {
  const auto started = std::chrono::steady_clock::now();
  const Pipeline::ProgressCallback progress = [&out](const Pipeline::Stage& stage) {
    out << stage.rawValue << std::endl;
  };
  try {
    const Pipeline::Output output = job(progress);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    out << "Package: " << output.packageDir.string() << std::endl;
    if (output.mp4URL) out << "Rough cut: " << output.mp4URL->string() << std::endl;
    for (const std::string& warning : output.warnings) out << "Warning: " << warning << '\n';
    out << "Done in " << Pipeline::elapsedString(seconds) << '.' << std::endl;
    return kExitOK;
  } catch (const Pipeline::Cancelled& e) {
    err << "kestrane: " << e.what() << std::endl;
    return kExitCancelled;
  } catch (const std::exception& e) {
    err << "kestrane: " << oneLine(e.what()) << std::endl;
    return kExitFailed;
  }
}

}  // namespace

int runRecut(const RecutOptions& options, std::ostream& out, std::ostream& err,
             std::stop_token stop) {
  return report(
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
  return report(
      [&](const Pipeline::ProgressCallback& progress) {
        return Pipeline::retryAdjudication(sessionFileFor(options.sessionOrPackage), options.mp4,
                                           progress, stop);
      },
      out, err);
}

}  // namespace kestrane::cli
