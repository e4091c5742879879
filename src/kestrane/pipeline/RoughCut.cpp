#include "kestrane/pipeline/RoughCut.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/RoughCutHearing.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/FailureMessage.hpp"
#include "kestrane/platform/MovieFile.hpp"

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

// What is said of a movie the package write removed: one the session vouched for shows another
// cut.
constexpr std::string_view kRemovedEarlierRoughCut =
    "Removed the rough cut of the earlier cut — it no longer matches this one";

// What is said of a file at the movie's name that the session doesn't vouch for, kept as `as`:
// nothing says it is a movie of ours, so it may be the user's own (a trim saved over it, say).
std::string setAsideNote(const std::filesystem::path& movie, const std::filesystem::path& as) {
  return fmt::format(
      "Set aside the file at {} as {} — nothing records which cut it shows, so it was kept rather than removed or "
      "replaced",
      movie.filename().string(), as.filename().string());
}

// True when the media in the plain file at `movie` is as long as `cut` plays on the session's
// frame grid: its length rounds to the cut's frame count. A movie this program rendered lasts its
// frames rounded up to the millisecond, far inside half a frame (audio-only footage too, whose
// AAC priming and padding the container leaves out), and a cut of another frame count lasts a
// whole frame more or less.
bool lastsAsLongAs(const KestraneSession& session, const std::filesystem::path& movie, const CutList& cut) {
  FrameSnapping::Layout layout;
  try {
    layout = FrameSnapping::layout(session.source, cut);
  } catch (const RationalTimeError&) {
    return false;
  }
  if (layout.totalFrames == 0) return false;
  const std::optional<double> seconds = platform::mediaSecondsAt(movie);
  return seconds && std::abs(*seconds - layout.totalSeconds()) < FrameSnapping::seconds(1, layout.frameDuration) / 2;
}

// The cut the session's record says the plain file `found` shows: none unless it is the file the
// record names, by its size and digest (a copy keeps both, whatever it does to the time), or by
// its size and time where either has no digest (a file this user can't read, a record of the
// last build's).
std::optional<CutList> recordedCut(const KestraneSession& session, const MovieIdentity& found) {
  const std::optional<MovieIdentity>& recorded = session.roughCutMovie;
  if (!recorded || !session.roughCutCutList || found.size != recorded->size) return std::nullopt;
  const bool same = recorded->sampledSHA256 && found.sampledSHA256
                        ? found.sampledSHA256 == recorded->sampledSHA256
                        : found.modifiedSeconds == recorded->modifiedSeconds &&
                              found.modifiedNanoseconds == recorded->modifiedNanoseconds;
  return same ? session.roughCutCutList : std::nullopt;
}

std::optional<CutList> recordedCut(const KestraneSession& session, const std::filesystem::path& movie) {
  const std::optional<MovieIdentity> found = platform::movieIdentityAt(movie);
  return found ? recordedCut(session, *found) : std::nullopt;
}

// The cut a stored session vouches that the plain file `found` at `movie` shows; none for a movie
// of unknown cut. A record with a digest is taken as it stands. The records of earlier builds are
// weighed as they can be: the last build's, without a digest, knows its file by its size and time
// or else by its size and a length of the recorded cut's; an earlier one that records the cut
// alone, by that cut's length; and the earliest, which record no cut at all (their movie showed
// the session's cut), by the length of the session's cut.
std::optional<CutList> vouchedCut(const KestraneSession& session, const std::filesystem::path& movie,
                                  const MovieIdentity& found) {
  const std::optional<CutList>& shown = session.roughCutCutList;
  const std::optional<MovieIdentity>& recorded = session.roughCutMovie;
  if (shown && recorded) {
    if (recorded->sampledSHA256) return recordedCut(session, found);
    if (std::optional<CutList> cut = recordedCut(session, found)) return cut;
    return found.size == recorded->size && lastsAsLongAs(session, movie, *shown) ? shown : std::nullopt;
  }
  if (shown) return lastsAsLongAs(session, movie, *shown) ? shown : std::nullopt;
  // No build records a file without its cut: such a record says nothing.
  if (session.cutList && lastsAsLongAs(session, movie, *session.cutList)) return session.cutList;
  return std::nullopt;
}

// True when `shown`, the cut the job's session records for the movie at its name (recordedCut),
// plays this job's frames. A job weighs an earlier build's record once, as it starts
// (noteEarlierRoughCut), and from then on its session names its movie as this build does, or
// names none.
bool showsThisCut(const Job& job, const std::optional<CutList>& shown) {
  return shown && playSameFrames(job.session.source, *shown, job.cutList);
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
  KestraneSession& session = job.session;
  const std::optional<std::filesystem::path> movie =
      place.existing ? std::optional(PackageLayout{*place.existing, job.stem}.movie()) : std::nullopt;
  const std::optional<MovieIdentity> found = movie ? platform::movieIdentityAt(*movie) : std::nullopt;
  std::optional<CutList> shown = found ? vouchedCut(session, *movie, *found) : std::nullopt;
  if (!shown) {
    // A movie the session does not vouch for is of an unknown cut: the session stops naming a
    // cut for it, so it is never kept as this cut's.
    forgetMovie(session);
    return;
  }
  // From here on the session names the file as it is now, by its bytes (an earlier build's
  // record gains them), and with its time as this disk keeps it, for earlier builds.
  session.roughCutCutList = std::move(shown);
  session.roughCutMovie = found;
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
  // The very file the analysis read, or the re-cut proved the footage, heard against the levels
  // the cut was made from.
  MP4Renderer::Listening hearing = roughCutHearing(job.session.levels);
  const MP4Renderer::Footage footage = job.footage
                                           ? MP4Renderer::Footage{job.session.source, job.footage, std::move(hearing)}
                                           : MP4Renderer::openFootage(job.session.source, std::move(hearing));
  RenderedMovie movie{MP4Renderer::renderAside(footage, job.cutList, path, rendered, job.stop), path};
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
  const std::filesystem::path destination = movie.destination;
  // A file at the movie's name that the session doesn't vouch for is no movie of ours to
  // replace: it is kept under a name of its own, in the same move.
  std::optional<std::filesystem::path> setAsideAs;
  if (holdsPlainFile(destination) && !recordedCut(session, destination))
    setAsideAs = PackageLayout{files.dir, job.stem}.freeSetAsideMovie();
  std::vector<std::string> warnings = job.warnings;
  if (setAsideAs) warnings.push_back(setAsideNote(destination, *setAsideAs));
  session.warnings = warnings.empty() ? std::nullopt : std::optional(warnings);
  // The staged file itself is what takes the movie's name, so the session vouches for exactly the
  // bytes it moves into place with.
  const std::optional<MovieIdentity> rendered = platform::movieIdentity(movie.file.fd());
  try {
    StagedFiles staged(files.dir);
    // Adopted first, so a stop or a failure from here on takes the unplaced movie away.
    staged.adopt(std::move(movie.file), destination);
    if (setAsideAs) staged.setAside(destination, *setAsideAs);
    if (!rendered || !rendered->sampledSHA256) throw std::runtime_error("can't read the rendered movie back");
    session.roughCutCutList = job.cutList;
    session.roughCutMovie = rendered;
    job.checkStop();
    staged.write(files.session, session.fileText(files.session));
    job.checkStop();
    staged.commit();
    // Said once it was kept so (a file gone meanwhile needed nothing).
    if (setAsideAs && holdsPlainFile(*setAsideAs)) job.warnings = std::move(warnings);
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
  const std::optional<CutList> shown = recordedCut(job.session, movie);
  if (showsThisCut(job, shown)) return;
  // Only a plain file is taken for a movie: a link, a FIFO or a folder there stays as it is. The
  // package write removes one the session vouched for, and sets aside any other.
  if (holdsPlainFile(movie)) {
    job.staleRoughCut =
        Job::StaleRoughCut{movie, shown, shown ? job.session.roughCutMovie : std::optional<MovieIdentity>()};
  }
  forgetMovie(job.session);
}

void noteRemovedRoughCut(Job& job) {
  if (!job.staleRoughCut) return;
  const std::filesystem::path& movie = job.staleRoughCut->movie;
  if (const std::optional<std::filesystem::path>& as = job.staleRoughCut->setAsideAs) {
    if (holdsPlainFile(*as)) job.warnings.push_back(setAsideNote(movie, *as));
    return;
  }
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(movie, ec))) {
    job.warnings.emplace_back(kRemovedEarlierRoughCut);
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
  if (showsThisCut(job, recordedCut(job.session, movie)))
    return {"Kept the rough cut of the earlier cut — it shows this same cut"};
  // An earlier movie goes only when a newer one takes its place; until then it stays, and the
  // session goes on saying which cut it shows.
  return {std::string(kKeptEarlierRoughCut)};
}

}  // namespace kestrane::Pipeline::detail

namespace kestrane::Pipeline {

bool roughCutShowsStoredCut(const KestraneSession& session, const std::filesystem::path& movie) {
  if (!session.cutList) return false;
  const std::optional<MovieIdentity> found = platform::movieIdentityAt(movie);
  const std::optional<CutList> shown = found ? detail::vouchedCut(session, movie, *found) : std::nullopt;
  return shown && detail::playSameFrames(session.source, *shown, *session.cutList);
}

}  // namespace kestrane::Pipeline
