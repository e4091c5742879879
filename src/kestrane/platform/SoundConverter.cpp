#include "kestrane/platform/SoundConverter.hpp"

#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"

namespace kestrane::platform {

namespace {

int channelsOf(const AVFrame* frame) { return frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1; }

}  // namespace

SoundConverter::~SoundConverter() { av_channel_layout_uninit(&inLayout_); }

bool SoundConverter::passesThrough(const AVFrame* frame) const {
  const AVSampleFormat same = format_.planar ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
  return frame->format == same && channelsOf(frame) == format_.channels && frame->sample_rate == format_.rate;
}

int SoundConverter::convert(const AVFrame* frame) {
  if (format_.rate == 0) format_.rate = frame->sample_rate;
  if (format_.channels == 0) format_.channels = channelsOf(frame);
  const auto planes = static_cast<std::size_t>(format_.planar ? format_.channels : 1);
  data_.resize(planes);
  if (frame->nb_samples <= 0) return 0;
  if (passesThrough(frame)) {
    for (std::size_t p = 0; p < planes; ++p) data_[p] = reinterpret_cast<const float*>(frame->extended_data[p]);
    return frame->nb_samples;
  }
  ensureResampler(frame);
  const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
  if (capacity <= 0) return 0;
  const std::size_t perPlane = static_cast<std::size_t>(capacity) * (format_.planar ? 1 : format_.channels);
  buffers_.resize(planes);
  out_.resize(planes);
  for (std::size_t p = 0; p < planes; ++p) {
    buffers_[p].resize(perPlane);
    out_[p] = reinterpret_cast<std::uint8_t*>(buffers_[p].data());
    data_[p] = buffers_[p].data();
  }
  const int made = swr_convert(swr_.get(), out_.data(), capacity,
                               const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
  if (made < 0) throw AudioDecodeError("can't convert the audio: " + ffmpeg::errorText(made));
  return made;
}

void SoundConverter::ensureResampler(const AVFrame* frame) {
  if (swr_ && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
      av_channel_layout_compare(&frame->ch_layout, &inLayout_) == 0)
    return;
  AVChannelLayout in{};
  if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_copy(&in, &frame->ch_layout);
  else av_channel_layout_default(&in, channelsOf(frame));
  // As many channels as the output keep their layout: only more or fewer are mixed.
  AVChannelLayout out{};
  if (in.nb_channels == format_.channels) av_channel_layout_copy(&out, &in);
  else av_channel_layout_default(&out, format_.channels);
  SwrContext* raw = nullptr;
  int rc = swr_alloc_set_opts2(&raw, &out, format_.planar ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT, format_.rate, &in,
                               static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&out);
  av_channel_layout_uninit(&in);
  if (rc >= 0) rc = swr_init(raw);
  if (rc < 0) {
    swr_free(&raw);
    throw AudioDecodeError("can't convert the audio: " + ffmpeg::errorText(rc));
  }
  swr_.reset(raw);
  av_channel_layout_uninit(&inLayout_);
  av_channel_layout_copy(&inLayout_, &frame->ch_layout);
  inFormat_ = frame->format;
  inRate_ = frame->sample_rate;
}

}  // namespace kestrane::platform
