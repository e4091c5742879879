#include "kestrane/pipeline/RoughCut.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

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

// True when the plain file at `movie` is the very one the session recorded a cut for: a file
// left by a killed run, or put there by hand, has another size or time.
bool vouchesFor(const KestraneSession& session, const std::filesystem::path& movie) {
  return session.roughCutCutList && session.roughCutMovie && movieIdentityAt(movie) == session.roughCutMovie;
}

// True when the session vouches for the movie at `movie` and it plays the frames of `cut`.
bool movieShows(const KestraneSession& session, const std::filesystem::path& movie, const CutList& cut) {
  return vouchesFor(session, movie) && playSameFrames(session.source, *session.roughCutCutList, cut);
}

bool movieShowsThisCut(const Job& job, const std::filesystem::path& movie) {
  return movieShows(job.session, movie, job.cutList);
}

void forgetMovie(KestraneSession& session) {
  session.roughCutCutList.reset();
  session.roughCutMovie.reset();
}

}  // namespace

std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files) {
  return PackageLayout{files.dir, job.stem}.movie();
}

void noteEarlierRoughCut(Job& job, const PackagePlace& place) {
  // A movie the session does not vouch for is of an unknown cut: the session stops naming a
  // cut for it, so it is never kept as this cut's.
  if (!place.existing || !vouchesFor(job.session, PackageLayout{*place.existing, job.stem}.movie())) {
    forgetMovie(job.session);
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
  const std::optional<MovieIdentity> movieBefore = session.roughCutMovie;
  const auto restore = [&] {
    session.roughCutCutList = shownBefore;
    session.roughCutMovie = movieBefore;
  };
  session.warnings = job.warnings.empty() ? std::nullopt : std::optional(job.warnings);
  const std::filesystem::path destination = movie.destination;
  // The staged file itself is what takes the movie's name (a rename keeps its size and time),
  // so the session vouches for exactly the movie it moves into place with.
  struct stat rendered {};
  const int statError = ::fstat(movie.file.fd(), &rendered) == 0 ? 0 : errno;
  try {
    StagedFiles staged(files.dir);
    // Adopted first, so a stop or a failure from here on takes the unplaced movie away.
    staged.adopt(std::move(movie.file), destination);
    if (statError != 0) throw std::system_error(statError, std::generic_category(), "can't look at the rendered movie");
    session.roughCutCutList = job.cutList;
    session.roughCutMovie = movieIdentity(rendered);
    job.checkStop();
    staged.write(files.session, session.fileText(files.session));
    job.checkStop();
    staged.commit();
  } catch (const Cancelled&) {
    restore();
    throw;
  } catch (const MoveLeftHalfway&) {
    // Not the movie's failure: the package's last move stopped partway, which the run says.
    restore();
    throw;
  } catch (const std::exception& e) {
    // Without the session that says which cut it shows the movie can't be kept, so the movie
    // failed: the job fails as it does for a failed render.
    restore();
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
  if (holdsPlainFile(movie)) {
    job.staleRoughCut = Job::StaleRoughCut{movie, job.session.roughCutCutList, job.session.roughCutMovie};
  }
  forgetMovie(job.session);
}

void noteRemovedRoughCut(Job& job) {
  if (!job.staleRoughCut) return;
  const std::filesystem::path& movie = job.staleRoughCut->movie;
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(movie, ec))) {
    job.warnings.push_back("Removed the rough cut of the earlier cut — it no longer matches this one");
  } else if (holdsPlainFile(movie)) {
    // It could not be removed (an immutable file, say): it stays the earlier cut's movie, and
    // the session's last write says so again (or, for a movie of an unknown cut, names none).
    job.session.roughCutCutList = job.staleRoughCut->shows;
    job.session.roughCutMovie = job.staleRoughCut->identity;
    job.warnings.emplace_back(kKeptEarlierRoughCut);
  }
}

std::vector<std::string> settleEarlierRoughCut(Job& job, const PackageFiles& files) {
  const std::filesystem::path movie = roughCutPath(job, files);
  if (!holdsPlainFile(movie)) {
    forgetMovie(job.session);
    return {};
  }
  if (movieShowsThisCut(job, movie)) return {"Kept the rough cut of the earlier cut — it shows this same cut"};
  // An earlier movie goes only when a newer one takes its place; until then it stays, and the
  // session goes on saying which cut it shows.
  return {std::string(kKeptEarlierRoughCut)};
}

}  // namespace kestrane::Pipeline::detail

namespace kestrane::Pipeline {

bool roughCutShowsStoredCut(const KestraneSession& session, const std::filesystem::path& movie) {
  return session.cutList && detail::movieShows(session, movie, *session.cutList);
}

}  // namespace kestrane::Pipeline
