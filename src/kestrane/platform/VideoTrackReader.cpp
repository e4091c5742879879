#include "kestrane/platform/VideoTrackReader.hpp"

#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/TrackReading.hpp"

#include <cstring>
#include <utility>

namespace kestrane::platform {

namespace {

// Decoding forward through this much footage costs less than seeking to a keyframe and
// decoding up from it again.
constexpr double seekAheadSeconds = 3.0;
// How far before the wanted time a seek aims first; keyframe seeking in some containers lands
// a little after the asked time, so the aim is widened when it does.
constexpr double firstSeekMargin = 0.5;
constexpr double timeTolerance = 1e-6;

}  // namespace

VideoTrackReader::VideoTrackReader(std::shared_ptr<const MediaFile> file, std::stop_token stop) {
  track_ = openTrack(std::move(file), AVMEDIA_TYPE_VIDEO, format_, std::move(stop));
  if (track_ < 0) return;

  AVStream* stream = format_->streams[track_];
  // 0 lets the decoder use every core, as the ffmpeg tool does.
  if (int rc = ffmpeg::openDecoder(stream, codec_, 0); rc < 0)
    throw MediaReadError("can't decode the video track: " + ffmpeg::errorText(rc));
  const AVRational rate = av_guess_frame_rate(format_.get(), stream, nullptr);
  if (rate.num > 0 && rate.den > 0) frameSeconds_ = av_q2d(av_inv_q(rate));

  packet_.reset(av_packet_alloc());
  current_.frame.reset(av_frame_alloc());
  next_.frame.reset(av_frame_alloc());
  if (!packet_ || !current_.frame || !next_.frame) throw MediaReadError("out of memory");
}

const AVCodecParameters& VideoTrackReader::parameters() const { return *format_->streams[track_]->codecpar; }

AVRational VideoTrackReader::sampleAspectRatio() const {
  return av_guess_sample_aspect_ratio(format_.get(), format_->streams[track_], nullptr);
}

std::optional<std::array<std::int32_t, 9>> VideoTrackReader::displayMatrix() const {
  std::size_t size = 0;
  const std::uint8_t* data = av_stream_get_side_data(format_->streams[track_], AV_PKT_DATA_DISPLAYMATRIX, &size);
  std::array<std::int32_t, 9> matrix{};
  if (!data || size < sizeof matrix) return std::nullopt;
  std::memcpy(matrix.data(), data, sizeof matrix);
  return matrix;
}

const AVFrame* VideoTrackReader::pictureAt(double seconds) {
  const bool holdsFirstPicture = fromTrackStart_ && picturesTaken_ == 1;
  if (current_.valid && seconds < current_.start - timeTolerance && !holdsFirstPicture) {
    seekTo(seconds);
  } else {
    const Picture& frontier = next_.valid ? next_ : current_;
    const double reached = frontier.valid ? frontier.start : (fromTrackStart_ ? 0.0 : lastStart_);
    if (!ended_ && seconds > reached + seekAheadSeconds) seekTo(seconds);
  }

  if (!next_.valid && !ended_) decodeNext(next_);
  while (next_.valid && (!current_.valid || next_.start <= seconds + timeTolerance)) {
    std::swap(current_, next_);
    ++picturesTaken_;
    decodeNext(next_);
  }
  return current_.valid ? current_.frame.get() : nullptr;
}

std::optional<double> VideoTrackReader::end() const {
  if (!ended_) return std::nullopt;
  // The decoder gave nothing after the current picture, which is the last.
  if (!current_.valid) return fromTrackStart_ && picturesTaken_ == 0 ? std::optional(0.0) : std::nullopt;
  return current_.start + frameSeconds_;
}

std::optional<double> VideoTrackReader::statedEnd() const { return statedTrackEnd(format_.get(), track_); }

bool VideoTrackReader::decodeNext(Picture& into) {
  av_frame_unref(into.frame.get());
  into.valid = false;
  if (!receiveFrame(format_.get(), codec_.get(), packet_.get(), track_, into.frame.get(), flushed_, "video")) {
    ended_ = true;
    return false;
  }
  std::int64_t ts = into.frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = into.frame->pts;
  into.start =
      ts == AV_NOPTS_VALUE ? lastStart_ + frameSeconds_ : sourceSeconds(format_.get(), format_->streams[track_], ts);
  lastStart_ = into.start;
  into.valid = true;
  return true;
}

void VideoTrackReader::seekTo(double seconds) {
  const auto landedInTime = [&] {
    restart(false);
    decodeNext(next_);
    return next_.valid && next_.start <= seconds + timeTolerance;
  };
  if (!seekBefore(format_.get(), track_, seconds, firstSeekMargin, landedInTime, "video")) restart(true);
}

void VideoTrackReader::restart(bool fromTrackStart) {
  avcodec_flush_buffers(codec_.get());
  av_frame_unref(current_.frame.get());
  av_frame_unref(next_.frame.get());
  current_.valid = next_.valid = false;
  flushed_ = ended_ = false;
  fromTrackStart_ = fromTrackStart;
  picturesTaken_ = 0;
}

}  // namespace kestrane::platform
