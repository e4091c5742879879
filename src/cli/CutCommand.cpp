#include "CutCommand.hpp"

#include <fmt/format.h>

#include <chrono>
#include <string>

#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

namespace {

// Error texts may carry line breaks from lower layers; the command reports one line.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

int runCut(const CutOptions& options, std::ostream& out, std::ostream& err, std::stop_token stop) {
  const std::size_t count = options.footage.size();
  int failures = 0;
  const Pipeline::ProgressCallback progress = [&out](const Pipeline::Stage& stage) {
    out << stage.rawValue << std::endl;
  };

  for (std::size_t i = 0; i < count; ++i) {
    const std::filesystem::path& footage = options.footage[i];
    if (count > 1) {
      out << (i > 0 ? "\n" : "")
          << fmt::format("Video {} of {} — {}",
                         i + 1, count,
                         Pipeline::resolvedProjectName(options.projectName, footage))
          << std::endl;
    }
    const auto started = std::chrono::steady_clock::now();
    try {
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
      const Pipeline::Output output = Pipeline::run(request, analysis, progress, stop);

      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      out << "Package: " << output.packageDir.string() << std::endl;
      if (output.mp4URL) out << "Rough cut: " << output.mp4URL->string() << std::endl;
      for (const std::string& warning : output.warnings) out << "Warning: " << warning << '\n';
      out << "Done in " << Pipeline::elapsedString(seconds) << '.' << std::endl;
    } catch (const Pipeline::Cancelled& e) {
      err << "kestrane: " << e.what() << std::endl;
      return kExitCancelled;
    } catch (const std::exception& e) {
      ++failures;
      err << "kestrane: " << oneLine(e.what()) << std::endl;
    }
  }
  return failures == 0 ? kExitOK : kExitFailed;
}

}  // namespace kestrane::cli
