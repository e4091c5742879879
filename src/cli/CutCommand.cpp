#include "CutCommand.hpp"

#include <fmt/format.h>

#include "InputCheck.hpp"
#include "TerminalText.hpp"
#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

namespace {

std::string header(const CutOptions& options, std::size_t index) {
  std::string text = fmt::format("File {} of {} — {}", index + 1, options.footage.size(),
                                 printable(options.footage[index].filename().string()));
  if (const auto name = Pipeline::trimmedOrAbsent(options.projectName)) {
    text += " (project “" + printable(*name) + "”)";
  }
  return text;
}

Pipeline::Output cutOne(const CutOptions& options, const std::filesystem::path& footage,
                        const Pipeline::ProgressCallback& progress, std::stop_token stop) {
  Pipeline::Analysis analysis = Pipeline::analyze(footage, {}, progress, stop);
  Pipeline::Request request;
  request.input = footage;
  request.scriptURL = options.script;
  request.projectName = Pipeline::trimmedOrAbsent(options.projectName);
  request.outputDir = options.outputDir;
  request.settings = Pipeline::cutSettings(options.choices, analysis.levels);
  request.renderMP4 = options.mp4;
  // A new package has no ideas document yet: making graphics asks for one.
  request.useClaude = options.graphics.ideas || options.graphics.graphics;
  request.brandSpec = options.graphics.brand;
  request.createMotionGraphics = options.graphics.graphics || options.graphics.noGraphics;
  request.renderGraphics = !options.graphics.noGraphics;
  request.graphicsNotes = options.graphics.notes;
  if (options.graphics.concurrency) request.settings.graphicsConcurrency = options.graphics.concurrency;
  request.services.aiBackend = [] { return ModelClient::detectBackend(); };
  request.projectNotes = options.notes;
  return Pipeline::run(request, analysis, progress, stop);
}

}  // namespace

int runCut(const CutOptions& options, Console& console, std::stop_token stop) {
  checkCutInputs(options);
  const std::size_t count = options.footage.size();
  std::vector<std::string> failures;
  for (std::size_t i = 0; i < count; ++i) {
    const std::filesystem::path& footage = options.footage[i];
    if (count > 1) console.line((i > 0 ? "\n" : "") + header(options, i));
    const JobOutcome outcome = runReported(
        [&](const Pipeline::ProgressCallback& progress) { return cutOne(options, footage, progress, stop); }, console,
        stop);
    // A stopped batch stops at once; a failed file leaves the rest to be cut.
    if (outcome.status == kExitCancelled) return outcome.status;
    if (outcome.status != kExitOK) {
      failures.push_back(printable(footage.string()) + ": " + outcome.failure);
    }
  }
  if (count > 1) {
    console.line(fmt::format("\nCut {} of {} files.", count - failures.size(), count));
    for (const std::string& failure : failures) console.line("Failed: " + failure);
  }
  return failures.empty() ? kExitOK : kExitFailed;
}

}  // namespace kestrane::cli
