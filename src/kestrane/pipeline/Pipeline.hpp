#pragma once
// The cut pipeline: one job from footage to a handoff package.
//
// Every entry is a blocking function that runs on the caller's thread. Progress is reported
// through the callback (see ProgressCallback); a stop requested through the stop token ends the
// job with Cancelled, after removing its temporary files and any package it had only begun to
// write. Failures meant for the user are UserFacingErrors; anything else is a fault.
#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

#include "kestrane/model/Advisory.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/pipeline/CutChoices.hpp"
#include "kestrane/pipeline/DraftCut.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/PipelineRequest.hpp"
#include "kestrane/pipeline/PipelineStage.hpp"

namespace kestrane::Pipeline {

// Probes the footage, measures its audio and transcribes it. The scratch audio file it makes
// is gone when it returns or throws. Errors of the media layers pass through unchanged. The
// transcribing stage reports the fraction recognised.
Analysis analyze(const std::filesystem::path& input, const AnalyzeOptions& options = {},
                 const ProgressCallback& progress = {}, std::stop_token stop = {});

// Runs one whole job: the prepared analysis (or a fresh one), the script, the decision,
// review, and the package, written into a new folder that never replaces an earlier one.
Output run(const Request& request, const std::optional<Analysis>& prepared = std::nullopt,
           const ProgressCallback& progress = {}, std::stop_token stop = {});

// Cuts a stored session again with new settings, hand edits or project details, without
// analysing the footage again. Writes into the package the session came from; a new project
// name, or a session file outside any package, gets a new package folder. Throws PipelineError
// when the session holds no transcript or its footage is gone (the package is then
// untouched), and the session file's own read errors; RoughCutFailed when the rough cut asked
// for fails after the rest of the package was written.
Output recut(const RecutRequest& request, const ProgressCallback& progress = {}, std::stop_token stop = {});

// Re-cuts a stored session with the AI adjudication turned on and every other choice kept.
// Throws PipelineError, before anything in the package changes, when the second opinion can't
// be had.
Output retryAdjudication(const std::filesystem::path& sessionURL, bool renderMP4 = false,
                         const ProgressCallback& progress = {}, std::stop_token stop = {},
                         const Services& services = {});

// The existing notes plus each new note that overlaps none already kept, sorted (stably)
// by start.
std::vector<Advisory> mergeEditorNotes(std::vector<Advisory> existing, const std::vector<Advisory>& added);

// The sentence about the notes the presenter spoke to the editor, saying of each whether it
// was cut from the timeline or stays on it (a line the cut needs keeps its note); nothing
// when there are none.
std::optional<std::string> spokenNotesSentence(const std::vector<Advisory>& notes, const CutList& cut);

}  // namespace kestrane::Pipeline
