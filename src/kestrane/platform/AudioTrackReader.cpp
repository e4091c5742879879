#include "kestrane/platform/AudioTrackReader.hpp"

#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/TrackReading.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::platform {

namespace {

// Audio decodes far faster than video, so it is worth decoding through longer stretches.
constexpr double seekAheadSeconds = 10.0;
// AAC and its kin need the block before the wanted one to decode it cleanly.
constexpr double firstSeekMargin = 0.25;

}  // namespace

AudioTrackReader::AudioTrackReader(std::shared_ptr<const MediaFile> file, std::stop_token stop) {
  track_ = openTrack(std::move(file), AVMEDIA_TYPE_AUDIO, format_, std::move(stop));
  if (track_ < 0) return;
  if (int rc = ffmpeg::openDecoder(format_->streams[track_], codec_); rc < 0)
    throw MediaReadError("can't decode the audio track: " + ffmpeg::errorText(rc));
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!packet_ || !frame_) throw MediaReadError("out of memory");
}

AudioTrackReader::~AudioTrackReader() { av_channel_layout_uninit(&swrInLayout_); }

int AudioTrackReader::trackSampleRate() const { return format_->streams[track_]->codecpar->sample_rate; }

int AudioTrackReader::trackChannelCount() const { return format_->streams[track_]->codecpar->ch_layout.nb_channels; }

void AudioTrackReader::setOutput(int sampleRate, int channels) {
  rate_ = sampleRate;
  channels_ = channels;
  buffer_.assign(static_cast<std::size_t>(channels), {});
  scratch_.assign(static_cast<std::size_t>(channels), {});
  scratchPlanes_.assign(static_cast<std::size_t>(channels), nullptr);
}

std::int64_t AudioTrackReader::bufferedEnd() const {
  return bufferStart_ + static_cast<std::int64_t>(buffer_[0].size());
}

std::optional<double> AudioTrackReader::statedEnd() const { return statedTrackEnd(format_.get(), track_); }

std::optional<std::int64_t> AudioTrackReader::end() const {
  if (!ended_) return std::nullopt;
  // Nothing decoded from the track's start means no sound at all.
  return anchored_ ? bufferedEnd() : 0;
}

void AudioTrackReader::dropRead() {
  if (head_ == 0) return;
  for (auto& plane : buffer_) plane.erase(plane.begin(), plane.begin() + static_cast<std::ptrdiff_t>(head_));
  bufferStart_ += static_cast<std::int64_t>(head_);
  silenceFrom_ = bufferStart_;
  head_ = 0;
}

void AudioTrackReader::read(std::int64_t start, int count, float* const* planes) {
  const auto aheadLimit = static_cast<std::int64_t>(seekAheadSeconds * rate_);
  if (anchored_) {
    // What has been read is behind; a gap not yet read through is silence, not behind.
    const std::int64_t covered = head_ > 0 ? bufferStart_ + static_cast<std::int64_t>(head_) : silenceFrom_;
    if (start < covered || (!ended_ && start > bufferedEnd() + aheadLimit)) seekTo(start);
  } else if (fromTrackStart_ && !ended_ && start > aheadLimit) {
    seekTo(start);
  }

  int produced = 0;
  auto fill = [&](int n, const std::vector<float>* from) {
    for (int c = 0; c < channels_; ++c) {
      float* out = planes[c] + produced;
      if (from) std::copy_n(from[c].data() + head_, n, out);
      else std::fill_n(out, n, 0.0f);
    }
    produced += n;
  };

  while (produced < count) {
    const auto size = buffer_[0].size();
    if (!anchored_ || head_ >= size) {
      if (anchored_) dropRead();
      if (ended_ || !decodeMore()) {
        fill(count - produced, nullptr);
        break;
      }
      continue;
    }
    const std::int64_t want = start + produced;
    const std::int64_t available = bufferStart_ + static_cast<std::int64_t>(head_);
    const auto left = static_cast<std::int64_t>(size - head_);
    if (want < available) {
      // Before the track's first sample, or in a gap in it: silence.
      fill(static_cast<int>(std::min<std::int64_t>(available - want, count - produced)), nullptr);
    } else if (want > available) {
      head_ += static_cast<std::size_t>(std::min(want - available, left));
    } else {
      const int n = static_cast<int>(std::min<std::int64_t>(left, count - produced));
      fill(n, buffer_.data());
      head_ += static_cast<std::size_t>(n);
    }
  }

  // Drop what has been read once it outweighs what is left, so the buffer stays small.
  if (head_ > 4096 && head_ * 2 > buffer_[0].size()) dropRead();
}

bool AudioTrackReader::decodeMore() {
  if (!receiveFrame(format_.get(), codec_.get(), packet_.get(), track_, frame_.get(), flushed_, "audio")) {
    ended_ = true;
    return false;
  }
  append(frame_.get());
  av_frame_unref(frame_.get());
  return true;
}

void AudioTrackReader::append(const AVFrame* frame) {
  if (frame->nb_samples <= 0) return;
  ensureResampler(frame);
  const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
  if (capacity <= 0) return;
  for (int c = 0; c < channels_; ++c) {
    scratch_[c].resize(static_cast<std::size_t>(capacity));
    scratchPlanes_[c] = scratch_[c].data();
  }
  const int made = swr_convert(swr_.get(), reinterpret_cast<std::uint8_t**>(scratchPlanes_.data()), capacity,
                               const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
  if (made < 0) throw MediaReadError("can't convert the audio: " + ffmpeg::errorText(made));
  if (made == 0) return;

  std::int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = frame->pts;
  std::optional<double> seconds;
  if (ts != AV_NOPTS_VALUE) seconds = sourceSeconds(format_.get(), format_->streams[track_], ts);
  if (!clock_) clock_.emplace(rate_, ffmpeg::statedLength(format_.get()));
  const SoundClock::Placement placed = clock_->place(seconds, made);
  if (!anchored_) {
    anchored_ = true;
    bufferStart_ = placed.position;
    // From the track's start, everything before its first sample is known silence.
    silenceFrom_ = fromTrackStart_ ? 0 : placed.position;
    if (fromTrackStart_) firstPosition_ = placed.position;
  } else if (placed.silence > 0) {
    // Decoding goes on only once what was decoded is read, so nothing is buffered here: the gap
    // is remembered, not filled, however long it is.
    dropRead();
    silenceFrom_ = bufferedEnd();
    bufferStart_ = placed.position;
    for (auto& plane : buffer_) plane.clear();
  }
  const auto skip = static_cast<std::ptrdiff_t>(placed.skipped);
  if (skip >= made) return;
  for (int c = 0; c < channels_; ++c)
    buffer_[c].insert(buffer_[c].end(), scratch_[c].begin() + skip, scratch_[c].begin() + made);
}

void AudioTrackReader::ensureResampler(const AVFrame* frame) {
  if (swr_ && frame->format == swrInFormat_ && frame->sample_rate == swrInRate_ &&
      av_channel_layout_compare(&frame->ch_layout, &swrInLayout_) == 0)
    return;
  AVChannelLayout in{};
  if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_copy(&in, &frame->ch_layout);
  else av_channel_layout_default(&in, std::max(frame->ch_layout.nb_channels, 1));
  AVChannelLayout out{};
  av_channel_layout_default(&out, channels_);
  SwrContext* raw = nullptr;
  int rc = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLTP, rate_, &in, static_cast<AVSampleFormat>(frame->format),
                               frame->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&out);
  if (rc >= 0) rc = swr_init(raw);
  if (rc < 0) {
    swr_free(&raw);
    av_channel_layout_uninit(&in);
    throw MediaReadError("can't convert the audio: " + ffmpeg::errorText(rc));
  }
  swr_.reset(raw);
  av_channel_layout_uninit(&swrInLayout_);
  av_channel_layout_copy(&swrInLayout_, &frame->ch_layout);
  av_channel_layout_uninit(&in);
  swrInFormat_ = frame->format;
  swrInRate_ = frame->sample_rate;
}

void AudioTrackReader::seekTo(std::int64_t position) {
  const auto landedInTime = [&] {
    restart(false);
    decodeMore();
    return anchored_ && bufferStart_ <= position;
  };
  const double seconds = static_cast<double>(position) / rate_;
  if (!seekBefore(format_.get(), track_, seconds, firstSeekMargin, landedInTime, "audio")) restart(true);
}

void AudioTrackReader::restart(bool fromTrackStart) {
  avcodec_flush_buffers(codec_.get());
  swr_.reset();  // its delay line holds samples from before the jump
  for (auto& plane : buffer_) plane.clear();
  head_ = 0;
  bufferStart_ = silenceFrom_ = 0;
  // From the track's start the clock places the first block as a first cut's analysis does;
  // elsewhere by its timestamp alone, even where nothing was decoded before (a first read far into
  // the file is no jump from its start).
  if (fromTrackStart) {
    clock_.reset();
  } else {
    if (!clock_) clock_.emplace(rate_, ffmpeg::statedLength(format_.get()));
    clock_->restart();
  }
  anchored_ = false;
  fromTrackStart_ = fromTrackStart;
  flushed_ = ended_ = false;
}

}  // namespace kestrane::platform
