#include "kestrane/pipeline/RoughCut.hpp"

#include <algorithm>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane::Pipeline::detail {

namespace {

// A movie is made of whole source frames, so two cuts that play the same frames make the same
// movie; captions, notes and the labels of removed stretches are not in it.
bool playSameFrames(const SourceMedia& source, const CutList& a, const CutList& b) {
  try {
    const FrameSnapping::Layout first = FrameSnapping::layout(source, a);
    const FrameSnapping::Layout second = FrameSnapping::layout(source, b);
    return std::ranges::equal(first.pieces, second.pieces, [](const auto& x, const auto& y) {
      return x.sourceStartFrame == y.sourceStartFrame && x.sourceEndFrame == y.sourceEndFrame;
    });
  } catch (const RationalTimeError&) {
    return false;
  }
}

bool earlierRoughCutShowsThisCut(const Job& job) {
  const std::optional<CutList>& shown = job.session.roughCutCutList;
  return shown && playSameFrames(job.session.source, *shown, job.cutList);
}

}  // namespace

std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files) {
  return PackageLayout{files.dir, job.stem}.movie();
}

void noteEarlierRoughCut(Job& job, const PackagePlace& place) {
  KestraneSession& session = job.session;
  std::error_code ec;
  const bool hasMovie = place.existing && std::filesystem::exists(PackageLayout{*place.existing, job.stem}.movie(), ec);
  if (!hasMovie) {
    session.roughCutCutList.reset();
  } else if (!session.roughCutCutList) {
    session.roughCutCutList = session.cutList;
  }
}

std::optional<RenderedMovie> renderRoughCut(Job& job, const PackageFiles& files, bool renderMP4) {
  if (!renderMP4) return std::nullopt;
  job.announce(Stage::rendering);
  job.checkStop();
  const std::filesystem::path path = roughCutPath(job, files);
  MP4Renderer::Progress rendered;
  if (job.progress) {
    rendered = [&job](double done) { job.announce(Stage::rendering.at(done)); };
  }
  RenderedMovie movie{MP4Renderer::renderAside(job.session.source, job.cutList, path, rendered, job.stop), path};
  job.announce(Stage::rendering.at(1.0));
  return movie;
}

std::optional<std::filesystem::path> placeRoughCut(Job& job, const PackageFiles& files, RenderedMovie movie) {
  KestraneSession& session = job.session;
  const std::optional<CutList> shownBefore = session.roughCutCutList;
  session.roughCutCutList = job.cutList;
  session.warnings = job.warnings.empty() ? std::nullopt : std::optional(job.warnings);
  try {
    StagedFiles staged(files.dir);
    staged.adopt(std::move(movie.file), movie.destination);
    staged.write(files.session, session.fileText(files.session));
    staged.commit();
  } catch (const std::exception& e) {
    session.roughCutCutList = shownBefore;
    job.warnings.push_back("Couldn't update the session file with the final warnings — " + FailureMessage::of(e));
    job.warnings.push_back("The new rough cut wasn't kept, as the session file couldn't record which cut it shows");
    removeStaleRoughCut(job, files);
    session.warnings = job.warnings;
    return std::nullopt;
  }
  job.earlierMovie.letGo();
  return movie.destination;
}

void removeStaleRoughCut(Job& job, const PackageFiles& files) {
  if (earlierRoughCutShowsThisCut(job)) return;
  job.session.roughCutCutList.reset();
  std::error_code ignored;
  if (std::filesystem::remove(roughCutPath(job, files), ignored)) {
    job.warnings.push_back("Removed the rough cut of the earlier cut — it no longer matches this one");
  }
}

std::vector<std::string> settleEarlierRoughCut(Job& job, const PackageFiles& files) {
  const std::size_t before = job.warnings.size();
  removeStaleRoughCut(job, files);
  std::vector<std::string> notes(job.warnings.begin() + static_cast<std::ptrdiff_t>(before), job.warnings.end());
  if (job.session.roughCutCutList) notes.push_back("Kept the rough cut of the earlier cut — it shows this same cut");
  return notes;
}

void guardEarlierRoughCut(Job& job, const PackageFiles& files) {
  if (earlierRoughCutShowsThisCut(job)) return;
  job.earlierMovie = platform::ScratchFiles::RemovedOnForcedExit(roughCutPath(job, files).string());
}

}  // namespace kestrane::Pipeline::detail
