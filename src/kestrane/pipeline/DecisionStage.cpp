// The decision phase: the draft cut of the stored analysis, then the AI gate.
#include "kestrane/export/CutListCheck.hpp"
#include "kestrane/pipeline/DraftCut.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline::detail {

void decide(Job& job) {
  KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  if (!session.transcript || !session.levels) {
    throw PipelineError("Can't decide the cut — the session holds no transcript or levels.");
  }

  job.announce(Stage::decidingEdits);
  DraftCut draft = draftCut(Analysis{session.source, *session.levels, *session.transcript}, session.script, settings);
  CutListCheck::require(draft.cutList, session.source, "the take decision and hand edits");
  job.silences = std::move(draft.silences);
  session.silences = job.silences;
  job.splitterSilences = std::move(draft.splitterSilences);
  job.removals = std::move(draft.decision.removals);
  job.advisories = std::move(draft.decision.advisories);
  job.takeGroups = std::move(draft.decision.takeGroups);
  job.editorNotes = session.editorNotes.value_or(std::vector<Advisory>{});

  job.cutList = std::move(draft.cutList);
  job.checkStop();

  // The AI second opinion, unless the settings turn it off or cut silences only.
  const bool silencesOnly = settings.thoroughness == Thoroughness::silencesOnly;
  if (!silencesOnly && settings.aiAdjudication.value_or(true)) adjudicate(job);
}

}  // namespace kestrane::Pipeline::detail
