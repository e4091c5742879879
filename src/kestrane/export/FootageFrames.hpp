#pragma once
// The footage a render reads, frame by frame of the cut's grid: the picture on screen and the
// sound of each frame, read from the held file's own tracks, and the rules that fail the render
// where the footage isn't all there. Neither track is ever padded: a track that ends short of
// where the cut needs it, or can't be read, fails the render rather than hold a picture or
// fill in silence.
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/model/RationalTime.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"

namespace kestrane::platform {
class AudioTrackReader;
class VideoTrackReader;
}  // namespace kestrane::platform

namespace kestrane::MP4Renderer {

class FootageFrames {
 public:
  // Opens the picture and sound tracks of the footage's held file, to be read on a grid of
  // `frameDuration`; every read stops with `stop` (Cancelled). Throws compositionFailed when the
  // file can't be read as media or has neither track.
  FootageFrames(const Footage& footage, RationalTime frameDuration, std::stop_token stop);
  ~FootageFrames();
  FootageFrames(const FootageFrames&) = delete;
  FootageFrames& operator=(const FootageFrames&) = delete;

  // The path the footage was held at, for messages.
  const std::string& path() const;
  bool hasPicture() const;
  bool hasSound() const;
  const platform::VideoTrackReader& pictureTrack() const { return *picture_; }
  const platform::AudioTrackReader& soundTrack() const { return *sound_; }

  // Sound is read as `channels` planes at `sampleRate`. Called once, before sound() is.
  void setSoundOutput(int sampleRate, int channels);

  // A copy of the picture on screen during the grid frame that starts `frameStart` seconds into
  // the footage: the one nearest the frame, or the last one where the picture has ended, until
  // it ends short of what the cut needs (footageRanOut).
  platform::ffmpeg::FramePtr picture(double frameStart);
  // The sound at positions `from` … `from + count - 1` into `planes`, for the grid frame that
  // starts at `frameStart`; silence past the track's end, until it ends short of what the cut
  // needs (footageRanOut).
  void sound(std::int64_t from, int count, float* const* planes, double frameStart);
  // Where the sound's samples ended, once a read has gone past them.
  std::optional<std::int64_t> soundEnd() const;

  // Fails (exportFailed) when the file was written to since it was held.
  void requireUnchanged() const;

 private:
  void requireReached(std::optional<double> ended, double needed, double trackEnd, double slack) const;

  const Footage& footage_;
  std::unique_ptr<platform::VideoTrackReader> picture_;
  std::unique_ptr<platform::AudioTrackReader> sound_;
  double frameSeconds_ = 0;
  // How far each track has to reach (never past the footage's length), and how far short of
  // it a track may end and still be the whole recording.
  double pictureReach_ = 0;
  double pictureSlack_ = 0;
  double soundReach_ = 0;
  double soundSlack_ = 0;
  int sampleRate_ = 0;
};

}  // namespace kestrane::MP4Renderer
