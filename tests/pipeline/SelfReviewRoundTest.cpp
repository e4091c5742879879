// A self-review round measures the cut's joins beside its model call, not before it, and
// keeps exactly what the measuring found.
#include <atomic>
#include <chrono>
#include <future>

#include <gtest/gtest.h>

#include "ai/AiTestSupport.hpp"
#include "kestrane/ai/ModelError.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "pipeline/TestSupport.hpp"

namespace kestrane {
namespace {

using namespace std::chrono_literals;

// A balanced self-review of one spoken line, with one defect for the model to look at.
KestraneSession reviewedSession() {
  const auto analysis =
      test::syntheticAnalysis(test::spoken("welcome to the small workshop today where we build a box.", 1.0));
  KestraneSession session;
  session.source = analysis.source;
  session.transcript = analysis.transcript;
  session.levels = analysis.levels;
  session.settings = test::appSettings();
  session.settings.aiAdjudication = true;
  session.settings.thoroughness = Thoroughness::balanced;
  return session;
}

std::vector<OutputAudit::Defect> oneDefect(const std::vector<TakeSelector::Utterance>& utterances) {
  return {
      {OutputAudit::Defect::Kind::unfinishedLine, {1, 6}, "The line stops mid-sentence.", {utterances.at(0).index}}};
}

TEST(SelfReviewRound, MeasuresTheCutBesideTheModelCall) {
  KestraneSession session = reviewedSession();

  std::promise<void> asked;
  auto backend = std::make_shared<test::ScriptedBackend>();
  backend->then([&](const ModelCall&) -> std::string {
    asked.set_value();
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
  // Measuring waits a while for the model to be asked: it only sees that when both run at once.
  const Pipeline::detail::MeasureChecks measure = [&, called = asked.get_future().share()](const CutList& cut) {
    sawTheCall = called.wait_for(3s) == std::future_status::ready;
    measuredCut = cut;
    return found;
  };
  const auto utterances = TakeSelector::utterances(*session.transcript, {});
  std::vector<OutputAudit::Defect> defects = oneDefect(utterances);
  std::vector<ScriptCoverage::BeatResult> coverage;

  const Pipeline::detail::SelfReview review = Pipeline::detail::selfReview(job, utterances, defects, coverage, measure);
  EXPECT_TRUE(sawTheCall) << "the checks were measured before the model was asked";
  // The failed round keeps the checks exactly as measured, of the cut as the round found it.
  EXPECT_EQ(review.checks, std::optional(found));
  EXPECT_EQ(measuredCut.segments, job.cutList.segments);
  EXPECT_EQ(review.stop, ReviewLoop::Stop::unchanged);
  EXPECT_TRUE(job.aiAdjudicationSkipped);
  ASSERT_EQ(job.warnings.size(), 1u);
  EXPECT_EQ(job.warnings[0].rfind("Self-review correction skipped — findings kept as review notes instead: ", 0), 0u);
}

// A retried self-review is announced under its own row, not as a second opinion, and the
// warning of its failure carries the tool's message without the tool's closing line break.
TEST(SelfReviewRound, RetriesAreTheReviewsOwnAndItsWarningEndsWithTheSentence) {
  KestraneSession session = reviewedSession();

  // The second failure leaves too little of the budget for a third attempt.
  auto late = std::make_shared<std::atomic<bool>>(false);
  auto backend = std::make_shared<test::ScriptedBackend>();
  backend->then([](const ModelCall&) -> std::string { throw ModelError::cliFailed(1, "the tool broke\n"); });
  backend->then([late](const ModelCall&) -> std::string {
    *late = true;
    throw ModelError::cliFailed(1, "the tool broke\n");
  });
  Pipeline::Services services;
  services.aiBackend = [backend] { return std::shared_ptr<AIBackend>(backend); };
  const auto start = std::chrono::system_clock::now();
  services.now = [start, late] { return *late ? start + 1190s : start; };
  std::vector<Pipeline::Stage> announced;
  Pipeline::detail::Job job{session, services, [&](const Pipeline::Stage& s) { announced.push_back(s); }, {}};
  job.cutList.segments = {{{0, 20}, SegmentKind::keep, std::nullopt, std::nullopt}};
  const auto utterances = TakeSelector::utterances(*session.transcript, {});
  std::vector<OutputAudit::Defect> defects = oneDefect(utterances);
  std::vector<ScriptCoverage::BeatResult> coverage;
  Pipeline::detail::selfReview(job, utterances, defects, coverage,
                               [](const CutList&) { return std::vector<CutInstruments::Finding>{}; });

  ASSERT_EQ(announced.size(), 2u);
  EXPECT_EQ(announced[0], Pipeline::Stage::reviewingCut);
  EXPECT_EQ(announced[1].rawValue, "Checking the cut (retry 2 of 3)");
  EXPECT_EQ(announced[1].checklistAnchor(), Pipeline::Stage::reviewingCut);
  EXPECT_EQ(job.warnings, std::vector<std::string>{"Self-review correction skipped — findings kept as review notes "
                                                   "instead: claude CLI exited 1: the tool broke"});
}

}  // namespace
}  // namespace kestrane
