#pragma once
// A scripted stand-in for the engine: it reports the stages it is given, waits where told, fails
// when told, and records every call.
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/core/EngineApi.hpp"

namespace kestrane::app::test {

// A door that work waits at until the test opens it (or the work is asked to stop).
class Gate {
 public:
  explicit Gate(bool open = true) : open_(open) {}
  void close();
  void open();
  void pass(std::stop_token stop);

 private:
  std::mutex mutex_;
  std::condition_variable_any changed_;
  bool open_;
};

struct Script {
  std::vector<Pipeline::Stage> stages;
  std::chrono::milliseconds delay{0};  // before each stage
  std::optional<std::string> failure;  // thrown after the stages
  std::exception_ptr error;            // thrown after the stages instead, when set
  Gate gate;                           // passed after the stages
  bool heedsStop = true;               // false: finishes even when asked to stop
};

class FakeEngine final : public EngineApi {
 public:
  ~FakeEngine() override;

  Script analysis;
  Script cut;  // runs and re-cuts
  // What a finished cut hands back; by default `sampleOutput` of the request's footage.
  std::function<Pipeline::Output(const std::filesystem::path& footage, const PipelineSettings&)> makeOutput;
  // What an analysis finds, as set when it starts: by default one second of speech between two
  // quiet ones.
  std::vector<float> levels;
  Transcript transcript{{{"hello", {0.5, 1.5}}}};
  // Drafts wait here (without heeding a stop); by default the engine's own draft is made.
  Gate draftGate;
  std::function<Pipeline::DraftCut(const Pipeline::Analysis&, const PipelineSettings&)> makeDraft;
  // The footage's sound for the audition: this many seconds of a quiet tone, read once the gate
  // opens; none: unreadable.
  std::optional<double> soundSeconds = 10;
  Gate soundGate;
  // Per footage: the message its analysis or its cut fails with; none: it goes as scripted.
  std::function<std::optional<std::string>(const std::filesystem::path& footage)> analysisFailure;
  std::function<std::optional<std::string>(const std::filesystem::path& footage)> cutFailure;
  // The most analyses that ever ran at the same time.
  int mostAnalysesAtOnce() const;
  // Looks at footage wait here (heeding a stop). A look at footage this engine analysed hears it
  // by its bytes: the same bytes are the footage, others another recording; footage it analysed
  // while nothing readable was on disk is always there. Any other footage (a stored cut's) is
  // looked at as the engine itself looks. `footageLook`, when it answers, answers instead.
  Gate footageLookGate;
  std::function<std::optional<FootageLook>(const KestraneSession& footage)> footageLook;
  // The threads looks at footage ran on.
  std::vector<std::thread::id> footageLookThreads() const;
  // Reported from another thread this long after a cut has returned.
  std::optional<std::pair<Pipeline::Stage, std::chrono::milliseconds>> lateStage;

  // Calls, in order.
  std::vector<std::filesystem::path> analyzeCalls() const;
  std::vector<std::pair<Pipeline::Request, bool>> runCalls() const;  // request, with a prepared analysis
  std::vector<Pipeline::RecutRequest> recutCalls() const;
  std::vector<PipelineSettings> draftCalls() const;
  int soundDecodes() const;
  void joinLateReports();

  Pipeline::Analysis analyze(const std::filesystem::path& input, const Pipeline::ProgressCallback& progress,
                             std::stop_token stop) override;
  Pipeline::Output run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                       const Pipeline::ProgressCallback& progress, std::stop_token stop) override;
  Pipeline::Output recut(const Pipeline::RecutRequest& call, const Pipeline::ProgressCallback& progress,
                         std::stop_token stop) override;
  Pipeline::DraftCut draftCut(const Pipeline::Analysis& analysis, const PipelineSettings& settings,
                              Pipeline::DraftCache& cache) override;
  // Scripted footage is never on disk: the inputs are checked as the real engine checks them
  // only when a test asks for it.
  bool checksInputs = false;
  void checkInputs(const Pipeline::Request& request) override {
    if (checksInputs) EngineApi::checkInputs(request);
  }
  AuditionPcm decodeAudition(const std::filesystem::path& footage) override;
  FootageLook lookAtFootage(const KestraneSession& footage, std::stop_token stop) override;
  void ensureSpeechModel() override {}

 private:
  void play(Script& script, const Pipeline::ProgressCallback& progress, std::stop_token stop);
  Pipeline::Output finish(const std::filesystem::path& footage, const PipelineSettings& settings,
                          const Pipeline::ProgressCallback& progress);

  mutable std::mutex mutex_;
  std::vector<std::filesystem::path> analyzeCalls_;
  std::vector<std::pair<Pipeline::Request, bool>> runCalls_;
  std::vector<Pipeline::RecutRequest> recutCalls_;
  std::vector<PipelineSettings> draftCalls_;
  int soundDecodes_ = 0;
  // Per footage analysed, the bytes that were at its path; none when nothing readable was.
  std::map<std::string, std::optional<std::string>> heard_;
  std::vector<std::thread::id> footageLookThreads_;
  std::vector<std::thread> late_;
  int analysesRunning_ = 0;
  int mostAnalysesAtOnce_ = 0;
};

// A finished cut of `footage`: 12:34 of footage kept to 8:15, with each kind of removal, in a
// package folder beside the footage (nothing is written).
Pipeline::Output sampleOutput(const std::filesystem::path& footage, const PipelineSettings& settings);

}  // namespace kestrane::app::test
