#pragma once
// The engine itself behind the application's interface: thin calls into the cut pipeline.
#include "app/core/EngineApi.hpp"

namespace kestrane::app {

class PipelineEngine final : public EngineApi {
 public:
  Pipeline::Analysis analyze(const std::filesystem::path& input, const Pipeline::ProgressCallback& progress,
                             std::stop_token stop) override;
  Pipeline::Output run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                       const Pipeline::ProgressCallback& progress, std::stop_token stop) override;
  Pipeline::Output recut(const Pipeline::RecutRequest& request, const Pipeline::ProgressCallback& progress,
                         std::stop_token stop) override;
  void ensureSpeechModel() override;
};

}  // namespace kestrane::app
