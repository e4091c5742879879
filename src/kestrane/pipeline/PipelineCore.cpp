#include "kestrane/pipeline/PipelineCore.hpp"

#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/pipeline/RoughCut.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane::Pipeline::detail {

void Job::checkStop() const { throwIfStopped(stop); }

void writeFinalSession(KestraneSession& session, const std::filesystem::path& path,
                       std::vector<std::string>& warnings) {
  session.warnings = warnings.empty() ? std::nullopt : std::optional(warnings);
  try {
    session.write(path);
  } catch (const Cancelled&) {
    // A stop is never a failed write.
    throw;
  } catch (const std::exception& e) {
    warnings.push_back("Couldn't update the session file with the final warnings — " + FailureMessage::of(e));
    session.warnings = warnings;
  }
}

namespace {

constexpr const char* kWroteCut = "Wrote this cut's timelines, transcript, captions and session file into the package";

// The package of this cut is in place, so a stop from here on leaves it and says what it holds:
// an earlier movie stays unless a newer one took its place, and the session gets the job's
// warnings when it can still be written (they are handed to the caller either way).
Cancelled stoppedWithPackage(Job& job, const PackageFiles& files, bool renderMP4, bool moviePlaced) {
  std::vector<std::string> notes{moviePlaced ? "Wrote this cut's timelines, transcript, captions, session file and "
                                               "rough cut into the package"
                                             : kWroteCut};
  if (!moviePlaced) {
    if (renderMP4) {
      for (std::string& note : settleEarlierRoughCut(job, files)) notes.push_back(std::move(note));
    }
    try {
      writeFinalSession(job.session, files.session, job.warnings);
    } catch (const Cancelled&) {
      // Already stopping: the session file keeps what the package phase wrote.
    }
  }
  return Cancelled(files.dir, std::move(notes), job.warnings, renderMP4 && !moviePlaced);
}

}  // namespace

Output decideAndExport(KestraneSession& session, std::shared_ptr<const platform::MediaFile> footage,
                       const PackagePlace& place, bool renderMP4, bool useClaude, bool renderGraphics,
                       std::vector<std::string> warnings, const Services& services, const ProgressCallback& progress,
                       std::stop_token stop, bool secondOpinionRequired) {
  Job job{session, services, progress, stop, std::move(footage)};
  // The decision's and the review's long loops stop with the job too.
  const StopScope stopScope(job.stop);
  job.stem = sourceStem(session.source.path);
  job.projectName = session.projectName.value_or(job.stem);
  job.warnings = std::move(warnings);
  // What taking the package found comes first.
  if (place.lock)
    job.warnings.insert(job.warnings.begin(), place.lock->warnings().begin(), place.lock->warnings().end());

  noteEarlierRoughCut(job, place);
  job.checkStop();
  decide(job);
  if (secondOpinionRequired && job.secondOpinionFailure) {
    // The second opinion is what was asked for: without it the package keeps the cut it has.
    throw PipelineError("The AI second opinion couldn't be had, so the package was left exactly as it was — " +
                        *job.secondOpinionFailure);
  }
  job.checkStop();
  review(job);
  job.checkStop();
  markStaleRoughCut(job, place, renderMP4);
  // Footage that grew or changed since it was read is still being written: no package of part of it.
  if (job.footage && !job.footage->unchanged()) throw FootageStillBeingWritten(job.footage->path());
  const PackageFiles files = writePackage(job, place);
  noteRemovedRoughCut(job);

  std::optional<std::filesystem::path> mp4;
  IdeasOutcome ideas;
  GraphicsOutcome graphics;
  try {
    ideas = visualIdeas(job, files, useClaude, modelIdeasRequest());
    graphics = motionGraphics(job, files, ideas, renderGraphics);
    if (std::optional<RenderedMovie> movie = renderRoughCut(job, files, renderMP4)) {
      mp4 = placeRoughCut(job, files, std::move(*movie));
    } else {
      writeFinalSession(session, files.session, job.warnings);
    }
    // A stop heard while the last write was under way is still a stop, even with every file in place.
    job.checkStop();
  } catch (const Cancelled&) {
    throw stoppedWithPackage(job, files, renderMP4, mp4.has_value());
  } catch (const MP4Renderer::RenderError& e) {
    // The movie was asked for, so the job failed; the package written before it stands, and
    // the caller says where it is and how to render the movie later.
    std::vector<std::string> notes;
    std::vector<std::string> warningsSoFar = job.warnings;
    if (!files.fresh) notes.push_back(kWroteCut);
    for (std::string& note : settleEarlierRoughCut(job, files)) notes.push_back(std::move(note));
    throw RoughCutFailed(e.what(), files.dir, std::move(notes), std::move(warningsSoFar));
  }

  Output output;
  output.session = session;
  output.packageDir = files.dir;
  output.fcpxmlURL = files.fcpxml;
  output.transcriptURL = files.transcript;
  output.captionsURL = files.captions;
  output.sessionURL = files.session;
  output.mp4URL = mp4;
  output.visualIdeasURL = ideas.url;
  output.brandSpecURL = graphics.brandSpecURL;
  output.assetsDirURL = graphics.assetsDir;
  output.brandVocabulary = graphics.vocabulary;
  output.graphicsAssets = session.graphicsAssets.value_or(std::vector<GraphicsAsset>{});
  output.warnings = job.warnings;
  output.aiAdjudicationSkipped = job.aiAdjudicationSkipped;
  output.selfReviewFailure = job.selfReviewFailure;
  return output;
}

}  // namespace kestrane::Pipeline::detail
