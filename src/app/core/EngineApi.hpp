#pragma once
// What the application asks of the engine, behind one small interface so that tests can put a
// scripted engine in its place. Every call blocks and runs on a worker thread; progress is
// reported on that same thread.
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

#include "app/core/Audition.hpp"
#include "app/core/FootageLook.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/pipeline/InputCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app {

class EngineApi {
 public:
  virtual ~EngineApi() = default;

  virtual Pipeline::Analysis analyze(const std::filesystem::path& input, const Pipeline::ProgressCallback& progress,
                                     std::stop_token stop) = 0;
  virtual Pipeline::Output run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                               const Pipeline::ProgressCallback& progress, std::stop_token stop) = 0;
  virtual Pipeline::Output recut(const Pipeline::RecutRequest& request, const Pipeline::ProgressCallback& progress,
                                 std::stop_token stop) = 0;
  // The automatic cut of an analysis with these settings; pure, and quick enough to run after
  // every option change.
  // `cache` belongs to this analysis.
  virtual Pipeline::DraftCut draftCut(const Pipeline::Analysis& analysis, const PipelineSettings& settings,
                                      Pipeline::DraftCache& cache) {
    return Pipeline::draftCut(analysis, std::nullopt, settings, cache);
  }
  // The footage's sound as the audition plays it; throws when it cannot be read.
  virtual AuditionPcm decodeAudition(const std::filesystem::path& footage) {
    return decodeAuditionPcm(fromPath(footage));
  }
  // The file at `footage`'s path held against what `footage` holds of the recording: seconds at
  // worst, and stopped by `stop` (Cancelled).
  virtual FootageLook lookAtFootage(const KestraneSession& footage, std::stop_token stop) {
    return FootageLooks::at(footage, std::move(stop));
  }
  // Throws Pipeline::InputError, with the command line's sentence, when the request's footage,
  // package folder or script can't be used. Quick: it runs before a cut starts.
  virtual void checkInputs(const Pipeline::Request& request) { Pipeline::checkInputs(request); }
  // Throws when the speech model for US English is not installed.
  virtual void ensureSpeechModel() = 0;
};

}  // namespace kestrane::app
