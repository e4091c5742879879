#include "kestrane/export/FootageFrames.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CodecSlack.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/platform/AudioTrackReader.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/VideoTrackReader.hpp"

namespace kestrane::MP4Renderer {

namespace {

// The tracks of one whole recording may end this far apart (a camera stops its picture and sound
// a little apart, and a muxer without per-track lengths states one length for both): the render
// holds the last picture, or leaves the last moment silent, as it always has.
constexpr double kTracksApartSeconds = 0.5;

// Where the picture has to reach: where the cut measured that it ends, or, in a session that
// stored no such measure, where the held file states it ends; never past the footage's length.
// Sound that runs on past the picture (recorded apart and joined later) then renders with the
// last picture held, while a picture cut off since the cut was made still ends short of it.
double pictureReach(const SourceMedia& media, const platform::VideoTrackReader& picture) {
  const std::optional<double> end = media.pictureEndSeconds ? media.pictureEndSeconds : picture.statedEnd();
  return std::min(media.durationSeconds, end.value_or(media.durationSeconds));
}

}  // namespace

FootageFrames::FootageFrames(const Footage& footage, RationalTime frameDuration, std::stop_token stop)
    : footage_(footage), frameSeconds_(FrameSnapping::seconds(1, frameDuration)) {
  if (!footage.file) throw RenderError::compositionFailed("no footage to read");
  try {
    // Every read of the footage stops with the render.
    picture_ = std::make_unique<platform::VideoTrackReader>(footage.file, stop);
    sound_ = std::make_unique<platform::AudioTrackReader>(footage.file, stop);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::runtime_error& error) {
    throw RenderError::compositionFailed(error.what());
  }
  if (!hasPicture() && !hasSound()) {
    throw RenderError::compositionFailed("no video or audio track in " + footage.media.path);
  }
  const SourceMedia& media = footage.media;
  if (hasPicture()) {
    pictureReach_ = pictureReach(media, *picture_);
    pictureSlack_ = kTracksApartSeconds;
  }
  if (hasSound()) {
    // Beside a picture, the sound as far as the file states it ends; a track whose end it doesn't
    // state may end a little before the other. Without one the sound is all of the footage, and
    // reaches its length: a copy cut off states where it was cut (a WAV's length is taken from
    // its size).
    const std::optional<double> stated = sound_->statedEnd();
    soundReach_ =
        hasPicture() ? std::min(media.durationSeconds, stated.value_or(media.durationSeconds)) : media.durationSeconds;
    soundSlack_ = stated ? 0 : kTracksApartSeconds;
  }
}

FootageFrames::~FootageFrames() = default;

const std::string& FootageFrames::path() const { return footage_.file->path(); }

bool FootageFrames::hasPicture() const { return picture_->hasTrack(); }

bool FootageFrames::hasSound() const { return sound_->hasTrack(); }

void FootageFrames::setSoundOutput(int sampleRate, int channels) {
  sound_->setOutput(sampleRate, channels);
  sampleRate_ = sampleRate;
  // Sound may end a packet or two short of where its container says, as decoders drop the last
  // packet's padding.
  soundSlack_ += CodecSlack::kLastPacketsSamples / sampleRate;
}

platform::ffmpeg::FramePtr FootageFrames::picture(double frameStart) {
  try {
    // The picture nearest the grid frame: the last one to start before its middle.
    const AVFrame* shown = picture_->pictureAt(frameStart + frameSeconds_ / 2);
    if (!shown) throw RenderError::exportFailed("no picture of the video could be decoded");
    requireReached(picture_->end(), frameStart + frameSeconds_, pictureReach_, pictureSlack_);
    platform::ffmpeg::FramePtr copy(av_frame_clone(shown));
    if (!copy) throw RenderError::exportFailed("out of memory");
    return copy;
  } catch (const platform::MediaReadError& error) {
    throw RenderError::footageUnreadable(path(), frameStart, error.what());
  }
}

void FootageFrames::sound(std::int64_t from, int count, float* const* planes, double frameStart) {
  try {
    sound_->read(from, count, planes);
  } catch (const platform::MediaReadError& error) {
    throw RenderError::footageUnreadable(path(), frameStart, error.what());
  }
  const std::optional<std::int64_t> ended = sound_->end();
  requireReached(ended ? std::optional(static_cast<double>(*ended) / sampleRate_) : std::nullopt,
                 static_cast<double>(from + count) / sampleRate_, soundReach_, soundSlack_);
}

std::optional<std::int64_t> FootageFrames::soundEnd() const { return sound_->end(); }

void FootageFrames::requireUnchanged() const {
  if (!footage_.file->unchanged())
    throw RenderError::exportFailed("the footage " + path() + " was written to while the cut was made from it");
}

// A track that ends more than a frame and its slack before the cut needs it, or before it is due
// to end, ran out.
void FootageFrames::requireReached(std::optional<double> ended, double needed, double trackEnd, double slack) const {
  const double due = std::min(needed, trackEnd);
  if (ended && *ended < due - frameSeconds_ - slack) throw RenderError::footageRanOut(path(), *ended, due);
}

}  // namespace kestrane::MP4Renderer
