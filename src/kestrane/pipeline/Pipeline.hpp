#pragma once
// The cut pipeline: one job from footage to a handoff package.
//
// Every entry is a blocking function that runs on the caller's thread. Progress is reported
// through the callback on that same thread; a stop requested through the stop token ends the
// job with Pipeline::Cancelled, after removing its temporary files and any package it had
// only begun to write.
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
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/PipelineRequest.hpp"
#include "kestrane/pipeline/PipelineStage.hpp"

namespace kestrane::Pipeline {

// Probes the footage, measures its audio and transcribes it. The scratch audio file it makes
// is gone when it returns or throws. Errors of the media layers pass through unchanged.
Analysis analyze(const std::filesystem::path& input, const ProgressCallback& progress = {},
                 std::stop_token stop = {});

// Runs one whole job: the prepared analysis (or a fresh one), the script, the decision,
// review, and the package, written into a new folder that never replaces an earlier one.
Output run(const Request& request, const std::optional<Analysis>& prepared = std::nullopt,
           const ProgressCallback& progress = {}, std::stop_token stop = {});

// Cuts a stored session again with new settings, hand edits or project details, without
// analysing the footage again. Hand edits, subtitle length and caption choice that `settings`
// leaves absent keep their stored values; absent optional details keep theirs. Writes into the
// package the session came from; a new project name, or a session file outside any package,
// gets a new package folder. Throws PipelineError when the session holds no transcript or its
// footage is gone (the package is then untouched), and the session file's own read errors.
Output recut(const std::filesystem::path& sessionURL, const PipelineSettings& settings,
             bool renderMP4 = false, bool useClaude = false,
             const std::optional<std::string>& projectName = std::nullopt,
             const std::optional<std::string>& projectNotes = std::nullopt,
             std::optional<bool> createMotionGraphics = std::nullopt, bool renderGraphics = true,
             const std::optional<BrandSpec>& brandSpec = std::nullopt,
             const std::optional<std::string>& graphicsNotes = std::nullopt,
             bool dropScript = false, const ProgressCallback& progress = {},
             std::stop_token stop = {});

// Re-cuts a stored session with the AI adjudication turned on and every other choice kept.
Output retryAdjudication(const std::filesystem::path& sessionURL, bool renderMP4 = false,
                         const ProgressCallback& progress = {}, std::stop_token stop = {});

// The fixed chain that turns a take decision into the cut list. The live draft cut and the
// delivered cut both go through it, so they agree for the same inputs. Pure.
CutList deterministicTail(double sourceDuration, double frameDuration,
                          const std::vector<SilenceSpan>& silences,
                          const std::vector<SilenceSpan>& splitterSilences,
                          const std::vector<Segment>& removals,
                          const std::vector<TranscriptWord>& words,
                          const std::optional<LevelData>& levels, const PipelineSettings& settings,
                          const std::vector<TimeRange>& manualKeeps,
                          const std::vector<TimeRange>& manualRemovals);

// The existing notes plus each new note that overlaps none already kept, sorted (stably)
// by start.
std::vector<Advisory> mergeEditorNotes(std::vector<Advisory> existing,
                                       const std::vector<Advisory>& added);

}  // namespace kestrane::Pipeline
