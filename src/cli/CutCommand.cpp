#include "CutCommand.hpp"

#include <fmt/format.h>

#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

int runCut(const CutOptions& options, std::ostream& out, std::ostream& err, std::stop_token stop) {
  const std::size_t count = options.footage.size();
  int failures = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::filesystem::path& footage = options.footage[i];
    if (count > 1) {
      out << (i > 0 ? "\n" : "")
          << fmt::format("Video {} of {} — {}",
                         i + 1, count,
                         Pipeline::resolvedProjectName(options.projectName, footage))
          << std::endl;
    }
    const int status = runReported(
        [&](const Pipeline::ProgressCallback& progress) {
          Pipeline::Analysis analysis = Pipeline::analyze(footage, progress, stop);
          const double threshold =
              options.thresholdDBFS
                  ? *options.thresholdDBFS
                  : thresholdDBFS(options.sensitivity, analysis.levels.levelsDBFS());

          Pipeline::Request request;
          request.input = footage;
          request.scriptURL = options.script;
          request.projectName = Pipeline::trimmedOrAbsent(options.projectName);
          request.outputDir = options.outputDir;
          request.settings = settingsFor(options, threshold);
          request.renderMP4 = options.mp4;
          return Pipeline::run(request, analysis, progress, stop);
        },
        out, err);
    // A stopped batch stops at once; a failed file leaves the rest to be cut.
    if (status == kExitCancelled) return status;
    if (status != kExitOK) ++failures;
  }
  return failures == 0 ? kExitOK : kExitFailed;
}

}  // namespace kestrane::cli
