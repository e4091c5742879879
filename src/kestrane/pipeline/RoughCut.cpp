#include "kestrane/pipeline/RoughCut.hpp"

#include <algorithm>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane::Pipeline::detail {

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

namespace {

// True when a plain file stands at `movie` and the session records that it plays this job's
// frames.
bool movieShowsThisCut(const Job& job, const std::filesystem::path& movie) {
  const std::optional<CutList>& shown = job.session.roughCutCutList;
  return shown && holdsPlainFile(movie) && playSameFrames(job.session.source, *shown, job.cutList);
}

}  // namespace

std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files) {
  return PackageLayout{files.dir, job.stem}.movie();
}

void noteEarlierRoughCut(Job& job, const PackagePlace& place) {
  KestraneSession& session = job.session;
  const bool hasMovie = place.existing && holdsPlainFile(PackageLayout{*place.existing, job.stem}.movie());
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

std::filesystem::path placeRoughCut(Job& job, const PackageFiles& files, RenderedMovie movie) {
  KestraneSession& session = job.session;
  const std::optional<CutList> shownBefore = session.roughCutCutList;
  session.roughCutCutList = job.cutList;
  session.warnings = job.warnings.empty() ? std::nullopt : std::optional(job.warnings);
  const std::filesystem::path destination = movie.destination;
  try {
    StagedFiles staged(files.dir);
    // Adopted first, so a stop or a failure from here on takes the unplaced movie away.
    staged.adopt(std::move(movie.file), destination);
    job.checkStop();
    staged.write(files.session, session.fileText(files.session));
    job.checkStop();
    staged.commit();
  } catch (const Cancelled&) {
    session.roughCutCutList = shownBefore;
    throw;
  } catch (const std::exception& e) {
    // Without the session that says which cut it shows the movie can't be kept, so the movie
    // failed: the job fails as it does for a failed render.
    session.roughCutCutList = shownBefore;
    const auto* write = dynamic_cast<const AtomicFile::WriteError*>(&e);
    const std::string why = write && write->path() == destination ? write->reason() : FailureMessage::of(e);
    throw MP4Renderer::RenderError::exportFailed("can't write " + destination.string() + " — " + why);
  }
  return destination;
}

void markStaleRoughCut(Job& job, const PackagePlace& place, bool renderMP4) {
  if (renderMP4 || !place.existing) return;
  const std::filesystem::path movie = PackageLayout{*place.existing, job.stem}.movie();
  if (movieShowsThisCut(job, movie)) return;
  // Only a plain file is ours to remove: a link, a FIFO or a folder there stays as it is.
  if (holdsPlainFile(movie)) job.staleRoughCut = Job::StaleRoughCut{movie, job.session.roughCutCutList};
  job.session.roughCutCutList.reset();
}

void noteRemovedRoughCut(Job& job) {
  if (!job.staleRoughCut) return;
  const std::filesystem::path& movie = job.staleRoughCut->movie;
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(movie, ec))) {
    job.warnings.push_back("Removed the rough cut of the earlier cut — it no longer matches this one");
  } else if (holdsPlainFile(movie)) {
    // It could not be removed (an immutable file, say): it stays the earlier cut's movie, and
    // the session's last write says so again.
    job.session.roughCutCutList = job.staleRoughCut->shows;
    job.warnings.emplace_back(kKeptEarlierRoughCut);
  }
}

std::vector<std::string> settleEarlierRoughCut(Job& job, const PackageFiles& files) {
  const std::filesystem::path movie = roughCutPath(job, files);
  if (!holdsPlainFile(movie)) {
    job.session.roughCutCutList.reset();
    return {};
  }
  if (movieShowsThisCut(job, movie)) return {"Kept the rough cut of the earlier cut — it shows this same cut"};
  // An earlier movie goes only when a newer one takes its place; until then it stays, and the
  // session goes on saying which cut it shows.
  return {std::string(kKeptEarlierRoughCut)};
}

}  // namespace kestrane::Pipeline::detail

namespace kestrane::Pipeline {

bool roughCutShowsStoredCut(const KestraneSession& session) {
  if (!session.roughCutCutList || !session.cutList) return true;
  return detail::playSameFrames(session.source, *session.roughCutCutList, *session.cutList);
}

}  // namespace kestrane::Pipeline
