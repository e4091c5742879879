#pragma once
// The pipeline's private core: decide, review, write the package and finish. Run (and later
// re-cut) entries build a session and hand it here.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "kestrane/ai/AdjudicationBackend.hpp"
#include "kestrane/ai/Adjudicator.hpp"
#include "kestrane/brain/CutInstruments.hpp"
#include "kestrane/brain/OutputAudit.hpp"
#include "kestrane/brain/ReviewLoop.hpp"
#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/graphics/VisualIdea.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/PipelineRequest.hpp"
#include "kestrane/pipeline/PipelineStage.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::Pipeline::detail {

class PackageLock;

// Where the package goes: a new folder reserved for the project inside `parent`, or an
// existing package folder that is reused.
struct PackagePlace {
  std::filesystem::path parent;
  std::optional<std::filesystem::path> existing;
  // The lock of the package the run started from, when it started from one; it is held while
  // the place lives.
  std::shared_ptr<const PackageLock> lock;
  // The session file a re-cut of `existing` was given, when the user named it otherwise than
  // after the footage: the run writes that file, so the package keeps one session file.
  std::optional<std::filesystem::path> sessionFile;
};

// The working state of one pass through the core, handed from phase to phase.
struct Job {
  KestraneSession& session;
  const Services& services;
  ProgressCallback progress;
  std::stop_token stop;
  // The footage file the job reads, held open since it was analysed (a first cut's) or proven
  // the session's (a re-cut's); none for a job that opens it where it reads it.
  std::shared_ptr<const platform::MediaFile> footage;

  std::string stem;         // names the package's own files
  std::string projectName;  // names the documents' titles
  std::vector<std::string> warnings;

  std::vector<SilenceSpan> silences;          // at the settings' threshold and minimum
  std::vector<SilenceSpan> splitterSilences;  // same threshold, kSplitterMinSilence
  std::vector<Segment> removals;
  std::vector<Advisory> advisories;
  std::vector<TakeGroupInfo> takeGroups;
  std::vector<Advisory> editorNotes;
  bool aiAdjudicationSkipped = false;
  // Why the second opinion, or the self-review's correction, did not take effect.
  std::optional<std::string> secondOpinionFailure;
  std::optional<std::string> selfReviewFailure;
  CutList cutList;
  // The earlier cut's movie that the package write removes, as it no longer matches the cut,
  // and the cut it shows with the file the session vouched for, which the session records again
  // should the movie stay. A file there that the session doesn't vouch for (none shown) is no
  // movie of ours to remove: the package write sets it aside, under `setAsideAs` once chosen.
  struct StaleRoughCut {
    std::filesystem::path movie;
    std::optional<CutList> shows;
    std::optional<MovieIdentity> identity;
    std::optional<std::filesystem::path> setAsideAs;
  };
  std::optional<StaleRoughCut> staleRoughCut;
  // How each script line fares in the cut; empty without a script.
  std::vector<ScriptCoverage::BeatResult> coverage;

  void announce(const Stage& stage) const {
    if (progress) progress(stage);
  }
  // Throws Cancelled once the caller has asked the job to stop.
  void checkStop() const;
};

// The AI backend the job's services find, if any.
std::shared_ptr<AIBackend> findAIBackend(const Job& job);
// The retrying backend a pass sends its prompt through; it announces each retry (as the second
// opinion's, or with `review` the self-review's) and measures its budget on the services' clock.
std::unique_ptr<ModelAdjudicationBackend> adjudicationBackend(const Job& job, std::shared_ptr<AIBackend> backend,
                                                              ModelTier tier, bool review = false);
// Merges what an AI pass returns into the job's decision.
void applyOutcome(Job& job, const Adjudicator::Outcome& outcome);
// Plans the cut again from the job's removals.
void replan(Job& job);
// The AI second opinion on the job's decision; the cut is planned again when it applies.
void adjudicate(Job& job);

// How the self-review loop ended.
struct SelfReview {
  ReviewLoop::Stop stop = ReviewLoop::Stop::disabled;
  int rounds = 0;
  // The measured checks of the final cut when the last round measured them; absent means
  // they are to be measured afresh.
  std::optional<std::vector<CutInstruments::Finding>> checks;
  std::vector<Adjudicator::CoherenceFinding> coherenceFindings;
};
// The measured checks of a cut. A round runs them on a thread of their own, beside its model
// call, so they read only the cut they are given and what the round does not change.
using MeasureChecks = std::function<std::vector<CutInstruments::Finding>(const CutList&)>;
// The self-review rounds on the job's cut; defects and coverage follow the cut as it changes.
SelfReview selfReview(Job& job, const std::vector<TakeSelector::Utterance>& utterances,
                      std::vector<OutputAudit::Defect>& defects, std::vector<ScriptCoverage::BeatResult>& coverage,
                      const MeasureChecks& measure);

// The files of a written package.
struct PackageFiles {
  std::filesystem::path dir;
  std::filesystem::path fcpxml;
  std::filesystem::path transcript;
  std::filesystem::path captions;
  std::filesystem::path session;
  bool fresh = false;                       // the folder was made by this job
  std::shared_ptr<const PackageLock> lock;  // held while the files live
};

// What the visual-ideas request needs to know.
struct IdeasQuery {
  std::string projectName;
  std::string transcriptMarkdown;
  std::optional<std::string> notes;
  int targetCount = 0;
  GraphicsFormat format = GraphicsFormat::mix;
};
// The model's reply, or the warning that says why there is none.
struct IdeasReply {
  std::optional<std::string> text;
  std::optional<std::string> skipped;
};
using IdeasRequest = std::function<IdeasReply(Job&, const IdeasQuery&)>;

struct IdeasOutcome {
  std::optional<std::filesystem::path> url;  // set when written now or re-anchored
  std::vector<VisualIdea> ideas;             // re-timed on this cut
  int graphicsCount = 0;
};

// What the motion-graphics stage hands on to the job's output.
struct GraphicsOutcome {
  std::optional<std::filesystem::path> brandSpecURL;
  std::optional<std::filesystem::path> assetsDir;  // only when a graphic rendered in this run
  std::optional<ComponentVocabulary> vocabulary;
};

// Silences, take decision (and the AI gate), the deterministic tail.
void decide(Job& job);
// Coverage, audit, measured checks, review notes and editor notes; stores the cut in the session.
void review(Job& job);
// Creates (or reuses) the package folder and writes every package file and the session file.
PackageFiles writePackage(Job& job, const PackagePlace& place);

// The visual-ideas stage: the graphics count (and its ceiling note when motion graphics are
// on), the document asked for through `ask` when `useClaude`, and the document in the package
// re-anchored to this cut whether or not it was asked for. Never throws for its own failures.
IdeasOutcome visualIdeas(Job& job, const PackageFiles& files, bool useClaude, const IdeasRequest& ask);
// The request through the AI model of this computer.
IdeasRequest modelIdeasRequest();
// The title and the "How to use this document" preamble in front of a model's ideas reply.
std::string withPreamble(std::string_view markdown, std::string_view projectName);

// When the session asks for motion graphics: the brand document ("brand-spec.md"), the graphics
// of the ideas authored and rendered (unless `renderGraphics` is off, or nothing can author or
// render them), and every recorded graphic placed on the package's FCPXML. Throws only when the
// brand document can't be written, and Cancelled.
GraphicsOutcome motionGraphics(Job& job, const PackageFiles& files, const IdeasOutcome& ideas, bool renderGraphics);

// The job's last write of the session file, with every warning. The package is complete
// without it, so a failure becomes one more warning instead of failing the job; a stop heard
// while it writes still ends the job with Cancelled.
void writeFinalSession(KestraneSession& session, const std::filesystem::path& path, std::vector<std::string>& warnings);

// The whole job on a session that holds its analysis, reading `footage` (when given) wherever it
// reads the footage. With `secondOpinionRequired`, a second opinion that can't be had fails the
// job before anything is written.
Output decideAndExport(KestraneSession& session, std::shared_ptr<const platform::MediaFile> footage,
                       const PackagePlace& place, bool renderMP4, bool useClaude, bool renderGraphics,
                       std::vector<std::string> warnings, const Services& services, const ProgressCallback& progress,
                       std::stop_token stop, bool secondOpinionRequired = false);

// A re-cut of a stored session (the public entry's work); see decideAndExport for
// `secondOpinionRequired`.
Output recutSession(const RecutRequest& request, const ProgressCallback& progress, std::stop_token stop,
                    bool secondOpinionRequired);

}  // namespace kestrane::Pipeline::detail
