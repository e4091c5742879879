#pragma once
// Whether the file at a session's footage path is still the footage its package was cut from.
// A re-cut takes the length, picture and sound of the footage from the session, not from the
// file, so other footage saved under the same name (a new take, a camera reusing its file
// names, the same recording trimmed) would be cut to timelines and a movie that misdescribe it.
// What a probe reads of the file is held against what the session stores; a copy, a move or a
// remux of the footage reads the same.
#include <optional>
#include <stop_token>
#include <string>

#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline {

// Other footage is at the session's footage path. The message is the re-cut's sentence:
// "Can't re-cut from this session: <change> — <what to do>".
class FootageChanged : public PipelineError {
 public:
  explicit FootageChanged(const std::string& change);
  // The clause footageChange gave.
  const std::string& change() const { return change_; }

 private:
  std::string change_;
};

// How far the stated length of the same footage may move when it is copied into another
// container: a frame of picture (footage without a picture is stored at 1/30 s) and the last
// packets of sound, which some containers count in whole and others cut to the samples.
double lengthTolerance(const SourceMedia& stored);

// "<path> is 0:12 at 640×360, the package was cut from 0:33 at 320×180" when `found`, a probe of
// the file at `stored.path`, is other footage than `stored` describes: the lengths always (with
// the decimals that tell them apart when their whole seconds read the same), and of the picture
// (its size, its frame rate, or none) and of the sound (rate, channels) only what differs.
// Nothing when they agree.
std::optional<std::string> footageDifference(const SourceMedia& stored, const SourceMedia& found);

// The same for the file now at `stored.path`. Nothing when it is the footage, and nothing when
// there is nothing to hold against the session: no file there, or one that can't be read as
// media (those have their own messages where the footage is used). Footage whose stated length
// is longer than the stored one by as much as the first cut takes for a cut-off file (whose
// readable length it stores instead) has its sound decoded, up to just past the stored length,
// to see whether it ends there. Throws Cancelled once `stop` is requested.
std::optional<std::string> footageChange(const SourceMedia& stored, std::stop_token stop = {});

// The change said on its own, where a package is opened: "<change> — <what to do>".
std::string footageChangeNote(const std::string& change);

// Throws FootageChanged when footageChange finds one.
void requireCutFootage(const SourceMedia& stored, std::stop_token stop = {});

}  // namespace kestrane::Pipeline
