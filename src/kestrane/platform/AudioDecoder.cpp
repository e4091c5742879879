#include "kestrane/platform/AudioDecoder.hpp"

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/TrackReading.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace kestrane::platform {

namespace {

struct SwrCloser {
  void operator()(SwrContext* s) const { swr_free(&s); }
};

// Converts whatever the decoder produces into interleaved float at the first frame's rate.
class Interleaver {
 public:
  ~Interleaver() { av_channel_layout_uninit(&inLayout_); }

  // The output keeps the first frame's rate and channel count.
  void adopt(const AVFrame* frame) {
    if (rate_ != 0) return;
    rate_ = frame->sample_rate;
    channels_ = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1;
  }

  // The frame's samples as the output has them; none while the resampler holds them.
  AudioBlock convert(const AVFrame* frame) {
    adopt(frame);
    if (frame->nb_samples <= 0) return block(nullptr, 0);
    const int frameChannels = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1;
    if (frame->format == AV_SAMPLE_FMT_FLT && frameChannels == channels_ && frame->sample_rate == rate_)
      return block(reinterpret_cast<const float*>(frame->data[0]), frame->nb_samples);
    ensureResampler(frame);
    const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (capacity <= 0) return block(nullptr, 0);
    buffer_.resize(static_cast<std::size_t>(capacity) * channels_);
    auto* out = reinterpret_cast<uint8_t*>(buffer_.data());
    const int made =
        swr_convert(swr_.get(), &out, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (made < 0) throw AudioDecodeError(ffmpeg::errorText(made));
    return block(buffer_.data(), made);
  }

  // Zeros standing in for `frames` frames of time the track holds no sound for.
  void deliverSilence(std::int64_t frames, const std::function<void(const AudioBlock&)>& sink) {
    if (rate_ == 0 || frames <= 0) return;
    constexpr std::int64_t kBlock = 4096;
    silence_.assign(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(channels_), 0.0f);
    for (std::int64_t left = frames; left > 0;) {
      const std::int64_t n = std::min(left, kBlock);
      sink(block(silence_.data(), static_cast<int>(n)));
      left -= n;
    }
  }

  int rate() const { return rate_; }

 private:
  AudioBlock block(const float* samples, int frames) const {
    return AudioBlock{samples, static_cast<std::size_t>(std::max(frames, 0)), channels_, static_cast<double>(rate_)};
  }

  void ensureResampler(const AVFrame* frame) {
    if (swr_ && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
        av_channel_layout_compare(&frame->ch_layout, &inLayout_) == 0)
      return;
    av_channel_layout_uninit(&inLayout_);
    AVChannelLayout in{};
    if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_copy(&in, &frame->ch_layout);
    else av_channel_layout_default(&in, frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1);
    AVChannelLayout out{};
    av_channel_layout_default(&out, channels_);
    if (av_channel_layout_compare(&in, &out) == 0 || in.nb_channels == channels_) av_channel_layout_copy(&out, &in);
    SwrContext* raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLT, rate_, &in, static_cast<AVSampleFormat>(frame->format),
                                 frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out);
    if (rc >= 0) rc = swr_init(raw);
    if (rc < 0) {
      swr_free(&raw);
      av_channel_layout_uninit(&in);
      throw AudioDecodeError(ffmpeg::errorText(rc));
    }
    swr_.reset(raw);
    inLayout_ = in;
    inFormat_ = frame->format;
    inRate_ = frame->sample_rate;
  }

  std::unique_ptr<SwrContext, SwrCloser> swr_;
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
  int rate_ = 0;
  int channels_ = 0;
  std::vector<float> buffer_;
  std::vector<float> silence_;
};

}  // namespace

bool isAudioOnlyFile(const std::string& path) {
  ffmpeg::FormatPtr format;
  if (ffmpeg::openInput(path, format) < 0) return false;
  bool audio = false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* s = format->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = true;
    // Cover art rides along as a picture stream; it does not make the file a video.
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) return false;
  }
  return audio;
}

namespace {

// Hands on each decoded block where the file's clock puts it (SoundClock): silence for time
// without sound before it, and only what no earlier block gave. It counts stretches of damage
// (damaged packets between two decoded frames count once; damage that lasts to the end is a
// cut-off file rather than a skipped stretch, so it counts only once a later frame decodes), and
// notes where the file's clock parts from counting the decoded samples, as earlier builds did.
class Placer {
 public:
  Placer(const AVFormatContext* format, const AVStream* stream) : format_(format), stream_(stream) {}

  void damaged() { pending_ = true; }

  void deliver(const AVFrame* frame, Interleaver& out, const std::function<void(const AudioBlock&)>& sink) {
    const AudioBlock block = out.convert(frame);
    const bool afterDamage = pending_;
    if (pending_) ++report_.damagedStretches;
    pending_ = false;
    if (block.frames == 0) return;
    const int rate = out.rate();
    if (!clock_) clock_.emplace(rate, ffmpeg::statedLength(format_));
    const std::int64_t ts = frame->best_effort_timestamp;
    std::optional<double> seconds;
    if (ts != AV_NOPTS_VALUE) seconds = sourceSeconds(format_, stream_, ts);
    const auto count = static_cast<std::int64_t>(block.frames);
    if (afterDamage && ts != AV_NOPTS_VALUE) catchUpCount(ts, rate);
    const SoundClock::Placement placed = clock_->place(seconds, count);

    // Where a counted sample lies on the file's clock, for the samples this block keeps.
    const std::int64_t offset = placed.position - (counted_ + placed.skipped);
    if (report_.countedClock.steps.empty() ? offset != 0 : offset != lastOffset_) {
      report_.countedClock.steps.push_back({static_cast<double>(counted_) / rate, static_cast<double>(offset) / rate});
    }
    lastOffset_ = offset;
    counted_ += count;

    out.deliverSilence(placed.silence, sink);
    if (placed.skipped >= count) return;
    AudioBlock kept = block;
    kept.interleaved += placed.skipped * block.channels;
    kept.frames -= static_cast<std::size_t>(placed.skipped);
    sink(kept);
  }

  DecodeReport report() const { return report_; }

 private:
  // Earlier builds filled the time a damaged stretch skipped with silence, counted from the
  // track's own start; their count moved on to the frame after it.
  void catchUpCount(std::int64_t ts, int rate) {
    const std::int64_t start = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    const double seconds = static_cast<double>(ts - start) * av_q2d(stream_->time_base);
    if (!(std::abs(seconds) < 1e9)) return;
    const auto at = static_cast<std::int64_t>(std::llround(seconds * rate));
    if (at - counted_ > static_cast<std::int64_t>(0.005 * rate)) counted_ = at;
  }

  const AVFormatContext* format_;
  const AVStream* stream_;
  std::optional<SoundClock> clock_;
  DecodeReport report_;
  bool pending_ = false;
  std::int64_t counted_ = 0;  // samples decoded, as earlier builds counted them
  std::int64_t lastOffset_ = 0;
};

// Unreadable packets in a row after which the rest of the file counts as gone (a truncated or
// wrecked tail), so a reader that cannot move on never spins.
constexpr int kReadFailuresToGiveUp = 64;

DecodeReport decodeOpened(ffmpeg::FormatPtr format, const std::string& path,
                          const std::function<void(const AudioBlock&)>& sink, std::stop_token stop) {
  // The first audio track in file order is the one analysed, as the probe reports it.
  int first = -1;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      first = static_cast<int>(i);
      break;
    }
  }
  if (first < 0) throw NoAudioStreamError("No audio track in " + path);

  // Skip demuxing work for every other stream (video packets are the bulk of a file).
  for (unsigned i = 0; i < format->nb_streams; ++i)
    format->streams[i]->discard = static_cast<int>(i) == first ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

  ffmpeg::CodecPtr codec;
  if (int rc = ffmpeg::openDecoder(format->streams[first], codec); rc < 0)
    throw AudioDecodeError(ffmpeg::errorText(rc));

  ffmpeg::PacketPtr packet(av_packet_alloc());
  ffmpeg::FramePtr frame(av_frame_alloc());
  Interleaver interleaver;
  Placer placer(format.get(), format->streams[first]);

  auto drain = [&] {
    while (true) {
      int rc = avcodec_receive_frame(codec.get(), frame.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
      if (rc < 0) {
        // A damaged packet loses its samples only; decoding goes on like the ffmpeg tool.
        if (!ffmpeg::isDamagedData(rc)) throw AudioDecodeError(ffmpeg::errorText(rc));
        placer.damaged();
        return;
      }
      placer.deliver(frame.get(), interleaver, sink);
      av_frame_unref(frame.get());
    }
  };

  int readFailures = 0;
  while (true) {
    throwIfStopped(stop);
    int rc = av_read_frame(format.get(), packet.get());
    // A held file the system fails to read has not ended.
    if (const std::optional<int> failure = rc < 0 ? ffmpeg::readFailure(format.get()) : std::nullopt)
      throw FileReadError(std::string("can't read the file: ") + std::strerror(*failure));
    if (rc == AVERROR_EOF) break;
    if (rc == AVERROR(EAGAIN)) continue;
    if (rc < 0) {
      if (!ffmpeg::isDamagedData(rc)) throw AudioDecodeError(ffmpeg::errorText(rc));
      placer.damaged();
      if (++readFailures >= kReadFailuresToGiveUp) break;
      continue;
    }
    readFailures = 0;
    if (packet->stream_index == first) {
      int sent = avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        if (!ffmpeg::isDamagedData(sent)) throw AudioDecodeError(ffmpeg::errorText(sent));
        placer.damaged();
      }
      drain();
    } else {
      av_packet_unref(packet.get());
    }
  }
  avcodec_send_packet(codec.get(), nullptr);
  drain();
  return placer.report();
}

}  // namespace

DecodeReport decodeAudio(const std::string& path, const std::function<void(const AudioBlock&)>& sink,
                         std::stop_token stop) {
  ffmpeg::FormatPtr format;
  if (int rc = ffmpeg::openInput(path, format); rc < 0)
    throw MediaOpenError("Can't read media at " + path + ": " + ffmpeg::errorText(rc));
  return decodeOpened(std::move(format), path, sink, std::move(stop));
}

DecodeReport decodeAudio(std::shared_ptr<const MediaFile> file, const std::function<void(const AudioBlock&)>& sink,
                         std::stop_token stop) {
  const std::string path = file->path();
  ffmpeg::FormatPtr format;
  if (int rc = ffmpeg::openInput(std::move(file), format, stop); rc < 0)
    throw MediaOpenError("Can't read media at " + path + ": " + ffmpeg::errorText(rc));
  return decodeOpened(std::move(format), path, sink, std::move(stop));
}

}  // namespace kestrane::platform
