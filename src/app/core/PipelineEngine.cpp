#include "app/core/PipelineEngine.hpp"

#include <thread>

#include "kestrane/transcribe/Transcriber.hpp"

namespace kestrane::app {

Pipeline::Analysis PipelineEngine::analyze(const std::filesystem::path& input,
                                           const Pipeline::ProgressCallback& progress, std::stop_token stop) {
  // Leaves one core to the window, so it stays quick while the footage is analysed.
  const unsigned cores = std::thread::hardware_concurrency();
  return Pipeline::analyze(input, {.workers = cores > 1 ? cores - 1 : 1}, progress, std::move(stop));
}

Pipeline::Output PipelineEngine::run(const Pipeline::Request& request,
                                     const std::optional<Pipeline::Analysis>& prepared,
                                     const Pipeline::ProgressCallback& progress, std::stop_token stop) {
  return Pipeline::run(request, prepared, progress, std::move(stop));
}

Pipeline::Output PipelineEngine::recut(const Pipeline::RecutRequest& request,
                                       const Pipeline::ProgressCallback& progress, std::stop_token stop) {
  return Pipeline::recut(request, progress, std::move(stop));
}

void PipelineEngine::ensureSpeechModel() { Transcriber::ensureModel("en_US"); }

}  // namespace kestrane::app
