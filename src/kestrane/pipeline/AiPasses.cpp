// The AI tier inside a job: the second opinion on the take decision and the self-review
// rounds on the finished cut. Every failure of the model becomes a warning and the cut stands
// as it was; only a stop request ends the job.
#include <algorithm>
#include <chrono>
#include <future>

#include "kestrane/ai/Adjudicator.hpp"
#include "kestrane/ai/CoherenceReview.hpp"
#include "kestrane/brain/ReviewLoop.hpp"
#include "kestrane/export/CutListCheck.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane::Pipeline::detail {

namespace {

constexpr double kAttemptBase = 300;
constexpr std::size_t kMaxReviewDefects = 40;

double secondsNow(const Services& services) {
  return std::chrono::duration<double>(services.now().time_since_epoch()).count();
}

}  // namespace

std::shared_ptr<AIBackend> findAIBackend(const Job& job) {
  if (!job.services.aiBackend) return nullptr;
  return job.services.aiBackend();
}

std::unique_ptr<ModelAdjudicationBackend> adjudicationBackend(const Job& job, std::shared_ptr<AIBackend> backend,
                                                              ModelTier tier, bool review) {
  auto b = std::make_unique<ModelAdjudicationBackend>(std::move(backend), kAttemptBase, tier);
  const Services& services = job.services;
  b->clock = [&services] { return secondsNow(services); };
  const ProgressCallback progress = job.progress;
  b->onRetryAttempt = [progress, review](int attempt, int) {
    if (!progress) return;
    if (review) {
      progress(attempt == 2 ? Stage::reviewingCutRetry2 : Stage::reviewingCutRetry3);
    } else {
      progress(attempt == 2 ? Stage::consultingClaudeRetry2 : Stage::consultingClaudeRetry3);
    }
  };
  return b;
}

TakeSelector::Decision currentDecision(const Job& job) { return {job.removals, job.advisories, job.takeGroups}; }

void applyOutcome(Job& job, const Adjudicator::Outcome& outcome) {
  if (!outcome.restoredRanges.empty()) {
    std::erase_if(job.removals, [&outcome](const Segment& s) {
      return s.kind == SegmentKind::retakeRejected &&
             std::ranges::any_of(outcome.restoredRanges, [&s](const TimeRange& r) { return r.overlaps(s.range); });
    });
  }
  job.removals.insert(job.removals.end(), outcome.removals.begin(), outcome.removals.end());
  job.advisories.insert(job.advisories.end(), outcome.advisories.begin(), outcome.advisories.end());
  job.editorNotes = mergeEditorNotes(std::move(job.editorNotes), outcome.editorNotes);
  if (outcome.updatedTakeGroups) job.takeGroups = *outcome.updatedTakeGroups;
  job.warnings.insert(job.warnings.end(), outcome.warnings.begin(), outcome.warnings.end());
}

void replan(Job& job) {
  const KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  CutList replanned = cutFromDecision(Analysis{session.source, *session.levels, *session.transcript}, job.silences,
                                      job.splitterSilences, job.removals, settings);
  CutListCheck::require(replanned, session.source, "the AI review");
  job.cutList = std::move(replanned);
}

void adjudicate(Job& job) {
  const KestraneSession& session = job.session;
  const std::shared_ptr<AIBackend> found = findAIBackend(job);
  if (!found) {
    job.warnings.push_back(
        "AI adjudication skipped — no claude CLI or ANTHROPIC_API_KEY found. The deterministic "
        "cut still removed flubs and repeated takes.");
    job.aiAdjudicationSkipped = true;
    job.secondOpinionFailure = "no claude CLI or ANTHROPIC_API_KEY found.";
    return;
  }
  job.announce(Stage::consultingClaude);
  const auto backend = adjudicationBackend(job, found, ModelTier::reasoning);
  // What the opinion changes, so that a failure after it applied leaves the deterministic cut.
  const std::vector<Segment> removals = job.removals;
  const std::vector<Advisory> advisories = job.advisories;
  const std::vector<TakeGroupInfo> takeGroups = job.takeGroups;
  const std::vector<Advisory> editorNotes = job.editorNotes;
  const std::size_t warningCount = job.warnings.size();
  try {
    const Adjudicator::Outcome outcome =
        Adjudicator::adjudicate(*session.transcript, job.splitterSilences, currentDecision(job), session.script,
                                session.source.durationSeconds, session.projectNotes, *backend, job.stop);
    applyOutcome(job, outcome);
    replan(job);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    job.removals = removals;
    job.advisories = advisories;
    job.takeGroups = takeGroups;
    job.editorNotes = editorNotes;
    job.warnings.resize(warningCount);
    job.secondOpinionFailure = FailureMessage::of(e);
    job.warnings.push_back("AI adjudication skipped — deterministic cut kept: " + *job.secondOpinionFailure);
    job.aiAdjudicationSkipped = true;
  }
}

SelfReview selfReview(Job& job, const std::vector<TakeSelector::Utterance>& utterances,
                      std::vector<OutputAudit::Defect>& defects, std::vector<ScriptCoverage::BeatResult>& coverage,
                      const MeasureChecks& measure) {
  KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  SelfReview result;
  const std::shared_ptr<AIBackend> found = settings.aiAdjudication.value_or(true) ? findAIBackend(job) : nullptr;
  if (!found) return result;

  const double started = secondsNow(job.services);
  bool changedLastRound = true;
  std::vector<CutInstruments::Finding> previousChecks;
  for (;;) {
    std::vector<OutputAudit::Defect> reviewDefects;
    for (const OutputAudit::Defect& d : defects) {
      if (reviewDefects.size() == kMaxReviewDefects) break;
      if (d.kind != OutputAudit::Defect::Kind::missingBeat) reviewDefects.push_back(d);
    }
    const bool isClean = result.rounds > 0 && reviewDefects.empty() && previousChecks.empty() && !changedLastRound;
    const ReviewLoop::Step step = ReviewLoop::step(result.rounds, settings.resolvedThoroughness(),
                                                   secondsNow(job.services) - started, isClean, changedLastRound);
    if (!step.runs) {
      result.stop = step.stop;
      return result;
    }
    job.checkStop();
    job.announce(Stage::reviewingCut);
    // The checks describe the cut as this round finds it and serve the next round's evidence.
    // They may read frames, so they run beside the model call, on their own copy of the cut;
    // every way out of the round waits for them (the future's destructor too).
    std::future<std::vector<CutInstruments::Finding>> roundChecks =
        std::async(std::launch::async, [&measure, cut = job.cutList] { return measure(cut); });
    const std::optional<std::string> evidence =
        CoherenceReview::evidence(utterances, job.cutList, coverage, previousChecks);
    if (reviewDefects.empty() && !evidence) {
      result.stop = ReviewLoop::Stop::clean;
      result.checks = roundChecks.get();
      return result;
    }
    const auto backend =
        adjudicationBackend(job, found, evidence ? ModelTier::reasoning : ModelTier::fast, /*review=*/true);
    Adjudicator::Outcome outcome;
    try {
      outcome = Adjudicator::correct(reviewDefects, *session.transcript, job.splitterSilences, currentDecision(job),
                                     session.script, session.projectNotes, evidence, utterances, *backend, job.stop);
    } catch (const Cancelled&) {
      throw;
    } catch (const std::exception& e) {
      job.selfReviewFailure = FailureMessage::of(e);
      job.warnings.push_back("Self-review correction skipped — findings kept as review notes instead: " +
                             *job.selfReviewFailure);
      job.aiAdjudicationSkipped = true;
      result.stop = ReviewLoop::Stop::unchanged;
      result.checks = roundChecks.get();
      return result;
    }
    previousChecks = roundChecks.get();
    ++result.rounds;
    applyOutcome(job, outcome);
    result.coherenceFindings = outcome.coherenceFindings;
    changedLastRound = outcome.appliedCuts >= 1 || outcome.appliedSwaps >= 1 || outcome.appliedRestores >= 1;
    if (changedLastRound) {
      replan(job);
      defects = OutputAudit::audit(utterances, *session.transcript, job.cutList, session.script);
      if (session.script) coverage = ScriptCoverage::assess(*session.script, *session.transcript, job.cutList);
    }
  }
}

}  // namespace kestrane::Pipeline::detail
