// The review phase: script coverage, the structural audit, the measured checks at the joins,
// and the notes and summary lines they leave for the editor.
#include <fmt/format.h>

#include "kestrane/analysis/FramingCheck.hpp"
#include "kestrane/brain/CutInstruments.hpp"
#include "kestrane/brain/OutputAudit.hpp"
#include "kestrane/brain/ReviewLoop.hpp"
#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::Pipeline::detail {

namespace {

constexpr std::size_t kSummaryLines = 8;
constexpr std::size_t kMissingLineWarnings = 3;

std::string plural(std::size_t count) { return count == 1 ? "" : "s"; }

std::string_view kindLabel(CutInstruments::Finding::Kind kind) {
  using Kind = CutInstruments::Finding::Kind;
  switch (kind) {
    case Kind::sourceContinuity: return "mixed takes";
    case Kind::spliceLevel: return "room tone jump";
    case Kind::spliceBreath: return "cut on a breath";
    case Kind::pacingWhiplash: return "pacing jump";
    case Kind::framingJump: return "framing jump";
  }
  return "check";
}

// The footage whose picture the checks look at: the file the job holds, or for a job that holds
// none, the plain file at the footage's path, if any.
std::shared_ptr<const platform::MediaFile> heldPicture(const Job& job) {
  if (job.footage) return job.footage;
  try {
    return platform::MediaFile::open(job.session.source.path);
  } catch (const platform::MediaFileError&) {
    return nullptr;
  }
}

// The picture the framing check reads, until the system fails to read it; then why it went
// unread, said once however many cuts the review measures.
struct PictureLook {
  std::shared_ptr<const platform::MediaFile> footage;
  std::optional<std::string> unread;
};

// The framing jumps of one cut, or none once the picture can't be read.
std::vector<CutInstruments::Finding> framingChecks(const CutList& cutList, PictureLook& picture, std::stop_token stop) {
  if (!picture.footage) return {};
  try {
    return CutInstruments::framingJumps(cutList, picture.footage, std::move(stop));
  } catch (const platform::FileReadError& e) {
    picture.unread = fmt::format(
        "The framing at the cuts wasn't checked: {} can't be read ({}) — check that the drive it is on is "
        "connected and reads",
        picture.footage->path(), e.what());
    picture.footage.reset();
    return {};
  }
}

// The measured checks of one cut, ranked. Reads the session, never the job's own cut.
std::vector<CutInstruments::Finding> measuredChecks(const KestraneSession& session,
                                                    const std::vector<TakeSelector::Utterance>& utterances,
                                                    const CutList& cutList, PictureLook& picture,
                                                    std::stop_token stop) {
  const Transcript& transcript = *session.transcript;
  std::vector<CutInstruments::Finding> found = CutInstruments::sourceContinuity(utterances, cutList);
  auto add = [&found](std::vector<CutInstruments::Finding> more) {
    found.insert(found.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  };
  add(CutInstruments::spliceQuality(cutList, transcript, session.levels, session.settings.silenceThresholdDBFS));
  add(CutInstruments::pacingWhiplash(cutList, transcript));
  // The only check that reads the picture, so only the most thorough review pays for it.
  if (session.settings.resolvedThoroughness() == Thoroughness::meticulous && session.source.hasVideo) {
    add(framingChecks(cutList, picture, std::move(stop)));
  }
  return CutInstruments::rank(found);
}

}  // namespace

void review(Job& job) {
  KestraneSession& session = job.session;
  const Transcript& transcript = *session.transcript;

  std::vector<ScriptCoverage::BeatResult> coverage;
  if (session.script) coverage = ScriptCoverage::assess(*session.script, transcript, job.cutList);
  job.checkStop();
  const std::vector<TakeSelector::Utterance> utterances = TakeSelector::utterances(transcript, job.splitterSilences);
  // Every cut is audited, a silences-only one too: its defects only become notes for the editor.
  std::vector<OutputAudit::Defect> defects = OutputAudit::audit(utterances, transcript, job.cutList, session.script);
  job.checkStop();

  const bool looksAtPicture = session.settings.resolvedThoroughness() == Thoroughness::meticulous;
  PictureLook picture{looksAtPicture ? heldPicture(job) : nullptr, std::nullopt};
  SelfReview loop = selfReview(job, utterances, defects, coverage, [&](const CutList& cut) {
    return measuredChecks(session, utterances, cut, picture, job.stop);
  });
  if (auto note = ReviewLoop::warning(loop.stop, loop.rounds)) job.warnings.push_back(*note);
  job.checkStop();
  const std::vector<CutInstruments::Finding> checks =
      loop.checks ? std::move(*loop.checks) : measuredChecks(session, utterances, job.cutList, picture, job.stop);
  if (picture.unread) job.warnings.push_back(*picture.unread);

  for (const Adjudicator::CoherenceFinding& f : loop.coherenceFindings) {
    if (f.range) job.advisories.push_back({*f.range, "Coherence (" + f.label() + "): " + f.detail});
  }
  for (std::size_t i = 0; i < loop.coherenceFindings.size() && i < kSummaryLines; ++i) {
    const auto& f = loop.coherenceFindings[i];
    job.warnings.push_back("Coherence — " + f.label() + ": " + f.detail);
  }
  if (loop.coherenceFindings.size() > kSummaryLines) {
    const std::size_t more = loop.coherenceFindings.size() - kSummaryLines;
    job.warnings.push_back(fmt::format("Coherence: {} more note{} in the session file", more, plural(more)));
  }

  for (const CutInstruments::Finding& f : checks) {
    job.advisories.push_back({f.range, fmt::format("Check ({}): {}", kindLabel(f.kind), f.detail)});
  }
  for (std::size_t i = 0; i < checks.size() && i < kSummaryLines; ++i) {
    job.warnings.push_back(fmt::format("Check — {}: {}", kindLabel(checks[i].kind), checks[i].detail));
  }
  if (checks.size() > kSummaryLines) {
    const std::size_t more = checks.size() - kSummaryLines;
    job.warnings.push_back(fmt::format("Checks: {} more note{} in the session file", more, plural(more)));
  }

  if (!defects.empty()) {
    for (const OutputAudit::Defect& d : defects) {
      if (d.range.start < d.range.end) job.advisories.push_back({d.range, "Self-review: " + d.detail});
    }
    std::size_t listed = 0;
    for (const OutputAudit::Defect& d : defects) {
      if (d.kind != OutputAudit::Defect::Kind::missingBeat) continue;
      if (listed++ == kMissingLineWarnings) break;
      job.warnings.push_back("Self-review: " + d.detail);
    }
    job.warnings.push_back(fmt::format("Self-review: {} unresolved issue{} — details in the session file",
                                       defects.size(), plural(defects.size())));
  }

  for (const Advisory& note : job.editorNotes) {
    job.advisories.push_back({note.range, "Note to your editor: " + note.note});
  }
  if (auto sentence = spokenNotesSentence(job.editorNotes, job.cutList)) {
    job.warnings.push_back(std::move(*sentence));
  }

  job.coverage = std::move(coverage);
  session.cutList = job.cutList;
  session.advisories = job.advisories;
  session.takeGroups = job.takeGroups;
  session.editorNotes = job.editorNotes.empty() ? std::nullopt : std::optional(job.editorNotes);
}

}  // namespace kestrane::Pipeline::detail
