#pragma once
// The facts of a media file the rest of the system needs before touching its samples: length,
// frame rate, picture size, audio format and start timecode.
#include <memory>
#include <optional>
#include <stop_token>
#include <stdexcept>
#include <string>
#include <utility>

#include "kestrane/model/GraphicMedia.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform {
struct MediaFacts;
class MediaFile;
}  // namespace kestrane::platform

namespace kestrane::MediaProbe {

class ProbeError : public UserFacingError {
 public:
  enum class Kind { unreadable, noAudioTrack, noVideoTrack };

  // `reason` says why in a few words: "no such file", "not a video or audio file".
  static ProbeError unreadable(const std::string& path, const std::string& reason) {
    return {Kind::unreadable, path, "Can't read media at " + path + " — " + reason};
  }
  static ProbeError noAudioTrack(const std::string& path) {
    return {Kind::noAudioTrack, path, "No audio track in " + path + " — Kestrane needs audio to find speech"};
  }
  static ProbeError noVideoTrack(const std::string& path);

  Kind kind() const { return kind_; }
  const std::string& path() const { return path_; }

 private:
  ProbeError(Kind kind, std::string path, const std::string& message)
      : UserFacingError(message), kind_(kind), path_(std::move(path)) {}
  Kind kind_;
  std::string path_;
};

// The plain file at `path`, held so that every reading of it reads the one file that was looked
// at. Throws ProbeError (unreadable) saying why not: "no such file", "it is a folder", …
std::shared_ptr<const platform::MediaFile> held(const std::string& path);

// The facts of the held footage. Throws ProbeError, and Cancelled once `stop` is requested.
SourceMedia probe(const std::shared_ptr<const platform::MediaFile>& file, std::stop_token stop = {});

// The footage's facts from what its container says of the file at `url`. Throws ProbeError
// (noAudioTrack).
SourceMedia sourceMedia(const platform::MediaFacts& facts, const std::string& url);

// A rendered graphic's facts; a file without a picture is refused. Throws ProbeError.
GraphicMedia probeGraphic(const std::string& url);

struct StartTimecode {
  RationalTime time;
  bool dropFrame = false;
};

// The start timecode from a timecode track's first sample, or from a "timecode" tag; none when
// neither is usable or it is frame 0.
std::optional<StartTimecode> startTimecode(const platform::MediaFacts& facts);

// Frame number of a "HH:MM:SS:FF" text ("HH:MM:SS;FF" for drop-frame) at a nominal whole rate.
std::optional<std::int64_t> frameNumber(const std::string& timecode, int framesPerSecond, bool dropFrame);

}  // namespace kestrane::MediaProbe
