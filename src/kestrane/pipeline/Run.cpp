// The run entry: one job from a request to a finished package.
#include "kestrane/analysis/ScriptLoader.hpp"
#include "kestrane/platform/FailureMessage.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline {

Output run(const Request& request, const std::optional<Analysis>& prepared, const ProgressCallback& progress,
           std::stop_token stop) {
  const std::string projectName = resolvedProjectName(request.projectName, request.input);
  const Analysis analysis = prepared ? *prepared : analyze(request.input, {}, progress, stop);
  throwIfStopped(stop);

  std::vector<std::string> warnings = analysis.warnings;
  std::optional<std::string> script;
  if (request.scriptURL) {
    try {
      ScriptLoader::LoadedScript loaded = ScriptLoader::loadScript(request.scriptURL->string());
      if (loaded.notice) warnings.push_back(*loaded.notice);
      script = std::move(loaded.text);
    } catch (const std::exception& e) {
      warnings.push_back("Couldn't read the script file — continuing without it (" + FailureMessage::of(e) + ")");
    }
  }

  KestraneSession session = KestraneSession::make(analysis.source, request.settings, script);
  session.projectName = projectName;
  session.projectNotes = trimmedOrAbsent(request.projectNotes);
  if (request.createMotionGraphics) session.createMotionGraphics = true;
  session.brandSpec = request.brandSpec;
  session.graphicsNotes = trimmedOrAbsent(request.graphicsNotes);
  session.transcript = analysis.transcript;
  session.levels = analysis.levels;

  detail::PackagePlace place;
  // Normal form, so "--out ." never shows as "folder/./name" in what the user reads.
  place.parent = request.outputDir && !request.outputDir->empty()
                     ? std::filesystem::absolute(*request.outputDir).lexically_normal()
                     : std::filesystem::absolute(request.input).parent_path().lexically_normal();
  return detail::decideAndExport(session, analysis.footage, place, request.renderMP4, request.useClaude,
                                 request.renderGraphics, std::move(warnings), request.services, progress, stop);
}

}  // namespace kestrane::Pipeline
