#pragma once
// The rough-cut movie of a package: rendered when it is asked for, and an earlier cut's movie
// kept only while it still shows the cut the package now holds.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline::detail {

// True when the two cuts play the same source frames, and so make the same movie: captions,
// notes and the labels of removed stretches are not in it.
bool playSameFrames(const SourceMedia& source, const CutList& a, const CutList& b);

// "<stem> rough cut.mp4" in the package folder.
std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files);

// Before the cut is decided: keeps the session's record of which cut the movie already in the
// package shows only while the session vouches for the file there: by its recorded size and
// digest, or, for a session an earlier build wrote, by what that build recorded (its size and
// time, or the length of the cut it shows). The record then names the file as it is now, digest
// included. Any other plain file at the movie's name is an earlier cut's movie of unknown cut,
// and the session names none.
void noteEarlierRoughCut(Job& job, const PackagePlace& place);

// A movie rendered and not yet in place.
struct RenderedMovie {
  AtomicFile::Aside file;
  std::filesystem::path destination;
};

// Renders the final cut beside its place in the package when `renderMP4` is set. Nothing is in
// place yet, so a failed or stopped render leaves an earlier rough cut as it was. A render
// failure propagates; the rendering stage reports the fraction done.
std::optional<RenderedMovie> renderRoughCut(Job& job, const PackageFiles& files, bool renderMP4);

// The job's last write of the session file, with every warning and the record of the cut the
// new movie shows and of the file it is, moved into place together with the movie: a run killed
// between the two leaves the next run on the package to finish the move, so the session never
// misdescribes the movie. A file at the movie's name that the session doesn't vouch for (the
// user's own, say) is set aside in the same move, under a free name that says it is not this
// cut's movie, and the job's warnings say so. Returns where the movie went. A stop asked by then
// ends it with Cancelled; a
// movie that can't take its place, or a session that can't be written, fails it with the
// renderer's exportFailed naming the movie. Either way nothing has moved, unless a move into
// place failed halfway (the next run on the package finishes it).
std::filesystem::path placeRoughCut(Job& job, const PackageFiles& files, RenderedMovie movie);

// Before the package is written by a job without a movie of its own: the earlier cut's movie,
// unless it plays exactly the frames of this job's cut, is marked to go with the package write
// (job.staleRoughCut), and the session stops naming it, so the session that leaves it out and
// the removal are one recorded move. Only a plain file at the movie's name is ever marked, and
// only one the session vouches for goes: any other is set aside under a free name instead.
void markStaleRoughCut(Job& job, const PackagePlace& place, bool renderMP4);

// After the package write: the warning that the marked movie went, once it has, saying it showed
// the earlier cut, or that a file the session didn't vouch for was set aside, and as what. A
// movie that could not be removed stays recorded as the earlier cut's (for the session's last
// write), and the warning says it was kept.
void noteRemovedRoughCut(Job& job);

// After this job's own movie was stopped or failed, the earlier movie stays: only a newer one
// showing the cut replaces it. Returns the notes that say which cut the movie left shows.
std::vector<std::string> settleEarlierRoughCut(Job& job, const PackageFiles& files);

}  // namespace kestrane::Pipeline::detail
