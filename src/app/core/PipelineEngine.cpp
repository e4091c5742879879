#include "app/core/PipelineEngine.hpp"

#include "kestrane/transcribe/Transcriber.hpp"

namespace kestrane::app {

Pipeline::Analysis PipelineEngine::analyze(const std::filesystem::path& input,
                                           const Pipeline::ProgressCallback& progress,
                                           std::stop_token stop) {
  return Pipeline::analyze(input, progress, std::move(stop));
}

Pipeline::Output PipelineEngine::run(const Pipeline::Request& request,
                                     const std::optional<Pipeline::Analysis>& prepared,
                                     const Pipeline::ProgressCallback& progress,
                                     std::stop_token stop) {
  return Pipeline::run(request, prepared, progress, std::move(stop));
}

Pipeline::Output PipelineEngine::recut(const RecutCall& call,
                                       const Pipeline::ProgressCallback& progress,
                                       std::stop_token stop) {
  // The application never asks for the second opinion, visual ideas or motion graphics.
  return Pipeline::recut(call.sessionURL, call.settings, call.renderMP4, /*useClaude=*/false,
                         call.projectName, call.projectNotes, /*createMotionGraphics=*/false,
                         /*renderGraphics=*/true, std::nullopt, std::nullopt, call.dropScript,
                         progress, std::move(stop));
}

void PipelineEngine::ensureSpeechModel() { Transcriber::ensureModel("en_US"); }

}  // namespace kestrane::app
