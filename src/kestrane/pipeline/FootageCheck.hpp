#pragma once
// Whether the file at a session's footage path is still all of the footage its package was cut
// from. A re-cut takes the length, picture and sound of the footage from the session, not from
// the file, so other footage saved under the same name (a new take, a camera reusing its file
// names, the same recording trimmed) or a copy cut off partway (a copy back interrupted by a
// full disk, a sync still under way) would be cut to timelines and a movie that misdescribe it.
// What the container says is held against what the session stores, and the sound itself is
// heard at a few stretches spread over the stored length, the last seconds among them, against
// the loudness the session stores (and, of footage under steady noise near the voice, its speech
// band's). A copy, a move, a remux or a re-encode of the footage passes.
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "kestrane/model/CountedClock.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::Pipeline {

// What the user can do about footage that can't be used.
enum class FootageRemedy {
  putBack,     // put the footage the package was cut from back at its path
  reconnect,   // nothing is there: reconnect its drive or move it back
  checkDrive,  // it can't be read: the drive or the file system failed
  allowRead,   // this account may not read it
  cutAnew,     // the session can't tell its footage: cut the footage anew
  cutWhole,    // the package is of the readable part of a copy cut off, and a whole copy is there now
  // Nothing in the footage's sound tells it from other recordings (a steady tone, hum or noise
  // alone), so a new cut couldn't be re-cut either: cut it anew whenever it is to be cut otherwise.
  nothingTells,
};

// The file at the session's footage path is not the footage, or can't be used as it. The
// message is the re-cut's sentence: "Can't re-cut from this session: <change> — <what to do>".
class FootageChanged : public PipelineError {
 public:
  explicit FootageChanged(const std::string& change, FootageRemedy remedy = FootageRemedy::putBack);
  // The clause footageProblem gave.
  const std::string& change() const { return change_; }

 private:
  std::string change_;
};

// Why the held file is not all of the footage the session's package was cut from, and what to
// do; or, when it is the footage of a session an earlier build stored (SoundTiming::
// countedSamples), where that session's times lie on the file's clock.
struct FootageVerdict {
  std::optional<std::string> change;
  FootageRemedy remedy = FootageRemedy::putBack;
  std::optional<CountedClock> countedClock;
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
// media", it "can't be read" at all (a failing drive), it "is damaged" (its sound jumps where no
// recording does), it "is cut off: its sound ends at 0:08, the package was cut from 0:33", it
// "sounds different from the footage the package was cut from" (another recording, or the same
// one played faster or slower), its sound is shifted against the session's by more than a frame
// alike all through (a trim at its start), or its sound goes on past the stored end where the
// container states no length to hold against it. Nothing when it is the footage. A session
// earlier builds stored is always moved first by where the file's own timestamps put each sample
// they counted (a dropout, joined clips, sound that starts after the picture), learned from the
// whole sound once, and heard on the file's clock; the verdict then carries that map. Throws
// Cancelled once `stop` is requested.
FootageVerdict judgeFootage(const KestraneSession& session, const std::shared_ptr<const platform::MediaFile>& file,
                            std::stop_token stop = {});
// Its change alone.
std::optional<std::string> footageProblem(const KestraneSession& session,
                                          const std::shared_ptr<const platform::MediaFile>& file,
                                          std::stop_token stop = {});

// The footage a re-cut reads: the file at the session's footage path, held open once it is
// proven the footage, the one file read from then on, whatever later happens at the path; and,
// for a session an earlier build stored, where its times lie on that file's clock.
struct ProvenFootage {
  std::shared_ptr<const platform::MediaFile> file;
  std::optional<CountedClock> movedBy;
};

// Proves the file at the session's footage path the footage, and moves a session an earlier
// build stored onto the file's clock (onFileClock). Throws FootageChanged when the session stores
// no loudness to know its footage by (or loudness that stops well short of its length), when no
// plain file can be read there ("source media missing at …", "source media at … can't be read —
// …") or it is not the footage; Cancelled once `stop` is requested.
ProvenFootage openCutFootage(KestraneSession& session, std::stop_token stop = {});

// Where a package is opened: judgeFootage of the file at the footage's path; nothing changed
// when no file is there (that is footage missing, said otherwise).
FootageVerdict footageVerdict(const KestraneSession& session, std::stop_token stop = {});
// Its change alone.
std::optional<std::string> footageChange(const KestraneSession& session, std::stop_token stop = {});

// The change said on its own, where a package is opened: "<change> — <what to do> to play or
// re-cut."
std::string footageChangeNote(const std::string& change, FootageRemedy remedy = FootageRemedy::putBack);

}  // namespace kestrane::Pipeline
