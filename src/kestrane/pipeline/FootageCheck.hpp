#pragma once
// Whether the file at a session's footage path is still all of the footage its package was cut
// from. A re-cut takes the length, picture and sound of the footage from the session, not from
// the file, so other footage saved under the same name (a new take, a camera reusing its file
// names, the same recording trimmed) or a copy cut off partway (a copy back interrupted by a
// full disk, a sync still under way) would be cut to timelines and a movie that misdescribe it.
// What the container says is held against what the session stores, and the sound itself is
// heard at a few stretches spread over the stored length, the last seconds among them, against
// the loudness the session stores. A copy, a move, a remux or a re-encode of the footage passes.
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::Pipeline {

// The file at the session's footage path is not the footage. The message is the re-cut's
// sentence: "Can't re-cut from this session: <change> — <what to do>".
class FootageChanged : public PipelineError {
 public:
  explicit FootageChanged(const std::string& change);
  // The clause footageProblem gave.
  const std::string& change() const { return change_; }

 private:
  std::string change_;
};

// How far the stated length of the same footage may move when it is copied into another
// container: a frame of picture (footage without a picture is stored at 1/30 s) and the last
// packets of sound, which some containers count in whole and others cut to the samples.
double lengthTolerance(const SourceMedia& stored);

// "<path> is 0:12 at 640×360, the package was cut from 0:33 at 320×180" when `found`, what a
// container states of the file at `stored.path`, is other footage than `stored` describes: the
// lengths always (with the decimals that tell them apart when their whole seconds read the
// same), and of the picture (its size, its frame rate, or none) and of the sound (rate,
// channels) only what differs. Nothing when they agree.
std::optional<std::string> footageDifference(const SourceMedia& stored, const SourceMedia& found);

// Why the held file is not all of the footage the session's package was cut from, as a clause
// that names it: what its container states differs (footageDifference), it "can't be read as
// media", it "is cut off: its sound ends at 0:08, the package was cut from 0:33", it "sounds
// different from the footage the package was cut from" (another recording, or the same one
// played faster or slower), its sound is shifted against the session's by more than a frame
// alike all through (a trim at its start), or its sound goes on past the stored end where the
// container states no length to hold against it. Nothing when it is the footage.
// A session without stored levels is held to its length and stated facts alone. Throws
// Cancelled once `stop` is requested.
std::optional<std::string> footageProblem(const KestraneSession& session,
                                          const std::shared_ptr<const platform::MediaFile>& file,
                                          std::stop_token stop = {});

// The file at the session's footage path, held open once it is proven the footage: the one file
// the re-cut reads from then on, whatever later happens at the path. Throws PipelineError when
// no plain file can be read there ("source media missing at …", "source media at … can't be read
// — …"), FootageChanged when it is not the footage, Cancelled once `stop` is requested.
std::shared_ptr<const platform::MediaFile> openCutFootage(const KestraneSession& session, std::stop_token stop = {});

// Where a package is opened: the clause for the file at the footage's path when it can't be
// played or re-cut as the package's footage, nothing when it is the footage or no file is there
// (that is footage missing, said otherwise).
std::optional<std::string> footageChange(const KestraneSession& session, std::stop_token stop = {});

// The change said on its own, where a package is opened: "<change> — <what to do>".
std::string footageChangeNote(const std::string& change);

}  // namespace kestrane::Pipeline
