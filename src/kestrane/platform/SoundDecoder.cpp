#include "kestrane/platform/SoundDecoder.hpp"

#include <algorithm>

#include "kestrane/platform/SoundPackets.hpp"
#include "kestrane/platform/TrackReading.hpp"

namespace kestrane::platform {

namespace {

// Unreadable packets in a row after which the rest of the file counts as gone (a truncated or
// wrecked tail), so a reader that cannot move on never spins.
constexpr int kReadFailuresToGiveUp = 64;

}  // namespace

SoundDecoder::SoundDecoder(std::shared_ptr<const MediaFile> file, std::stop_token stop)
    : file_(file), stop_(stop), converter_(std::make_unique<SoundConverter>(SoundFormat{})) {
  track_ = openTrack(std::move(file), AVMEDIA_TYPE_AUDIO, format_, std::move(stop));
  if (track_ < 0) return;
  if (int rc = ffmpeg::openDecoder(format_->streams[track_], codec_); rc < 0)
    throw AudioDecodeError(ffmpeg::errorText(rc));
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!packet_ || !frame_) throw AudioDecodeError("out of memory");
}

bool SoundDecoder::next(PlacedBlock& block) {
  while (true) {
    // The last block may still point into the frame it came from.
    av_frame_unref(frame_.get());
    const int rc = avcodec_receive_frame(codec_.get(), frame_.get());
    if (rc == 0) {
      if (place(block)) return true;
      continue;
    }
    if (rc == AVERROR_EOF) return false;
    if (rc != AVERROR(EAGAIN)) {
      // A damaged packet loses its samples only; decoding goes on like the ffmpeg tool.
      if (!ffmpeg::isDamagedData(rc)) throw AudioDecodeError(ffmpeg::errorText(rc));
      damaged();
    }
    if (flushed_) return false;
    feed();
  }
}

void SoundDecoder::feed() {
  throwIfStopped(stop_);
  const int rc = readPacket(format_.get(), packet_.get());
  if (rc == AVERROR_EOF) return flush();
  if (rc == AVERROR(EAGAIN)) return;
  if (rc < 0) {
    if (!ffmpeg::isDamagedData(rc)) throw AudioDecodeError(ffmpeg::errorText(rc));
    damaged();
    if (++readFailures_ >= kReadFailuresToGiveUp) flush();
    return;
  }
  readFailures_ = 0;
  if (packet_->stream_index != track_) return av_packet_unref(packet_.get());
  const int sent = avcodec_send_packet(codec_.get(), packet_.get());
  av_packet_unref(packet_.get());
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    if (!ffmpeg::isDamagedData(sent)) throw AudioDecodeError(ffmpeg::errorText(sent));
    damaged();
  }
}

void SoundDecoder::flush() {
  avcodec_send_packet(codec_.get(), nullptr);
  flushed_ = true;
}

bool SoundDecoder::place(PlacedBlock& block) {
  const int made = converter_->convert(frame_.get());
  // Damaged packets between two decoded frames count once; damage that lasts to the end is a
  // cut-off file rather than a skipped stretch, so it counts only once a later frame decodes.
  const bool afterDamage = pending_;
  if (pending_) ++damagedStretches_;
  pending_ = false;
  if (made == 0) return false;

  const int rate = converter_->rate();
  if (!clock_) {
    clock_.emplace(fileClock(format_.get(), rate, file_, stop_));
    counter_.emplace(rate);
    // Decoding that began past the track's start (a first read far into the file) places its
    // first block by its timestamp alone: it is no jump from the start.
    if (!fromTrackStart_) clock_->restart();
  }
  std::int64_t ts = frame_->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = frame_->pts;
  const AVStream* sound = stream();
  if (afterDamage && fromTrackStart_ && frame_->best_effort_timestamp != AV_NOPTS_VALUE) {
    const std::int64_t start = sound->start_time != AV_NOPTS_VALUE ? sound->start_time : 0;
    counter_->catchUp(static_cast<double>(frame_->best_effort_timestamp - start) * av_q2d(sound->time_base));
  }
  const std::optional<double> seconds =
      ts != AV_NOPTS_VALUE ? std::optional(sourceSeconds(format_.get(), sound, ts)) : std::nullopt;
  const SoundClock::Placement placed = clock_->place(seconds, made);
  if (fromTrackStart_) counter_->add(placed, made);

  block.position = placed.position;
  block.silence = placed.silence;
  block.frames = std::max<std::int64_t>(made - placed.skipped, 0);
  const std::int64_t skippedValues =
      std::min<std::int64_t>(placed.skipped, made) * (converter_->planar() ? 1 : converter_->channels());
  block.data = converter_->data();
  for (const float*& samples : block.data) samples += skippedValues;
  return true;
}

void SoundDecoder::restart(bool fromTrackStart) {
  avcodec_flush_buffers(codec_.get());
  converter_->reset();  // its delay line holds samples from before the jump
  // From the track's start the clock places the first block as a whole decode does.
  if (fromTrackStart) {
    clock_.reset();
    counter_.reset();
    damagedStretches_ = 0;
  } else if (clock_) {
    clock_->restart();
  }
  fromTrackStart_ = fromTrackStart;
  pending_ = flushed_ = false;
  readFailures_ = 0;
}

DecodeReport SoundDecoder::report() const { return {damagedStretches_, counter_ ? counter_->clock() : CountedClock{}}; }

}  // namespace kestrane::platform
