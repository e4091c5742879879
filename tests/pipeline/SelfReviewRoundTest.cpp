// A self-review round measures the cut's joins beside its model call, not before it, and
// keeps exactly what the measuring found.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "ai/AiTestSupport.hpp"
#include "kestrane/ai/ModelError.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "pipeline/TestSupport.hpp"

namespace kestrane {
namespace {

using namespace std::chrono_literals;

// Who has got how far: the model call and the measuring each wait a while for the other.
struct Meeting {
  std::mutex mutex;
  std::condition_variable changed;
  bool asked = false;
  bool measured = false;

  void mark(bool Meeting::*what) {
    std::lock_guard lock(mutex);
    this->*what = true;
    changed.notify_all();
  }
  bool has(bool Meeting::*what) {
    std::lock_guard lock(mutex);
    return this->*what;
  }
  bool waitFor(bool Meeting::*what) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 3s, [&] { return this->*what; });
  }
};

TEST(SelfReviewRound, MeasuresTheCutBesideTheModelCall) {
  const auto analysis =
      test::syntheticAnalysis(test::spoken("welcome to the small workshop today where we build a box.", 1.0));
  KestraneSession session;
  session.source = analysis.source;
  session.transcript = analysis.transcript;
  session.levels = analysis.levels;
  session.settings = test::appSettings();
  session.settings.aiAdjudication = true;
  session.settings.thoroughness = Thoroughness::balanced;

  Meeting meeting;
  auto backend = std::make_shared<test::ScriptedBackend>();
  bool measuredBeforeTheCall = true;
  backend->then([&](const ModelCall&) -> std::string {
    meeting.mark(&Meeting::asked);
    measuredBeforeTheCall = meeting.has(&Meeting::measured);
    throw ModelError::notSignedIn();
  });
  Pipeline::Services services;
  services.aiBackend = [backend] { return std::shared_ptr<AIBackend>(backend); };
  Pipeline::detail::Job job{session, services, {}, {}};
  job.cutList.segments = {{{0, 20}, SegmentKind::keep, std::nullopt, std::nullopt}};

  const std::vector<CutInstruments::Finding> found = {
      {CutInstruments::Finding::Kind::pacingWhiplash, {4, 5}, "The pace jumps here.", 1.8}};
  bool sawTheCall = false;
  CutList measuredCut;
  const Pipeline::detail::MeasureChecks measure = [&](const CutList& cut) {
    sawTheCall = meeting.waitFor(&Meeting::asked);
    measuredCut = cut;
    meeting.mark(&Meeting::measured);
    return found;
  };
  const auto utterances = TakeSelector::utterances(*session.transcript, {});
  std::vector<OutputAudit::Defect> defects = {
      {OutputAudit::Defect::Kind::unfinishedLine, {1, 6}, "The line stops mid-sentence.", {utterances.at(0).index}}};
  std::vector<ScriptCoverage::BeatResult> coverage;

  const Pipeline::detail::SelfReview review = Pipeline::detail::selfReview(job, utterances, defects, coverage, measure);
  EXPECT_TRUE(sawTheCall) << "the checks were measured before the model was asked";
  EXPECT_FALSE(measuredBeforeTheCall);
  // The failed round keeps the checks exactly as measured, of the cut as the round found it.
  EXPECT_EQ(review.checks, std::optional(found));
  EXPECT_EQ(measuredCut.segments, job.cutList.segments);
  EXPECT_EQ(review.stop, ReviewLoop::Stop::unchanged);
  EXPECT_TRUE(job.aiAdjudicationSkipped);
  ASSERT_EQ(job.warnings.size(), 1u);
  EXPECT_EQ(job.warnings[0].rfind("Self-review correction skipped — findings kept as review notes instead: ", 0), 0u);
}

}  // namespace
}  // namespace kestrane
