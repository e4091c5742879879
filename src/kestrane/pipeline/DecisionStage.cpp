// The decision phase: silences from the stored levels, the take decision, the AI gate and the
// deterministic tail.
#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline {

namespace {
constexpr double kSplitterMinSilence = 0.7;
}  // namespace

namespace detail {

void decide(Job& job) {
  KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  if (!session.transcript || !session.levels) {
    throw PipelineError("Can't decide the cut — the session holds no transcript or levels.");
  }
  const Transcript& transcript = *session.transcript;

  const AudioAnalyzer::LevelTrack track{session.levels->levelsDBFS(), session.levels->hopDuration};
  job.announce(Stage::decidingEdits);
  job.silences = AudioAnalyzer::silences(track, settings.silenceThresholdDBFS,
                                         settings.minSilenceDuration);
  session.silences = job.silences;
  job.splitterSilences =
      AudioAnalyzer::silences(track, settings.silenceThresholdDBFS, kSplitterMinSilence);

  const bool silencesOnly = settings.thoroughness == Thoroughness::silencesOnly;
  const TakeSelector::Decision decision =
      silencesOnly ? TakeSelector::fillersOnly(transcript, settings)
                   : TakeSelector::decide(transcript, session.script, job.splitterSilences,
                                          session.levels, settings);
  job.removals = decision.removals;
  job.advisories = decision.advisories;
  job.takeGroups = decision.takeGroups;
  job.editorNotes = session.editorNotes.value_or(std::vector<Advisory>{});

  // The AI second opinion. This build has no AI tier, so no backend is ever found: the
  // deterministic decision stands and the user is told why.
  if (!silencesOnly && settings.aiAdjudication.value_or(true)) {
    job.warnings.push_back(
        "AI adjudication skipped — no claude CLI or ANTHROPIC_API_KEY found. The deterministic "
        "cut still removed flubs and repeated takes.");
    job.aiAdjudicationSkipped = true;
  }
  job.checkStop();

  const double frameDuration = session.source.frameDuration.seconds();
  job.cutList = deterministicTail(
      session.source.durationSeconds, frameDuration, job.silences, job.splitterSilences,
      job.removals, transcript.words, session.levels, settings,
      settings.manualKeepRanges.value_or(std::vector<TimeRange>{}),
      settings.manualRemoveRanges.value_or(std::vector<TimeRange>{}));
}

}  // namespace detail
}  // namespace kestrane::Pipeline
