#include "kestrane/platform/MediaFacts.hpp"

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/TrackReading.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kestrane::platform {

namespace {

std::string fourCC(std::uint32_t tag) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

std::uint32_t readBE32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

VideoTrackFacts videoFacts(const AVStream* s) {
  VideoTrackFacts v;
  if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0) v.nominalFrameRate = av_q2d(s->avg_frame_rate);
  // The real base rate is the finest rate that represents every timestamp: its inverse is the
  // shortest frame duration.
  if (s->r_frame_rate.num > 0 && s->r_frame_rate.den > 0) {
    v.minFrameDurationValue = s->r_frame_rate.den;
    v.minFrameDurationTimescale = s->r_frame_rate.num;
  }
  v.width = s->codecpar->width;
  v.height = s->codecpar->height;
  v.codecTag = fourCC(s->codecpar->codec_tag);
  if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(s->codecpar->format)))
    v.hasAlphaChannel = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
  return v;
}

AudioTrackFacts audioFacts(const AVStream* s) {
  AudioTrackFacts a;
  if (s->codecpar->sample_rate > 0) a.sampleRate = s->codecpar->sample_rate;
  if (s->codecpar->ch_layout.nb_channels > 0) a.channelCount = s->codecpar->ch_layout.nb_channels;
  return a;
}

std::optional<std::string> tag(const AVDictionary* metadata) {
  if (const AVDictionaryEntry* e = av_dict_get(metadata, "timecode", nullptr, 0)) return std::string(e->value);
  return std::nullopt;
}

// The QuickTime timecode description: reserved(4) flags(4) timescale(4) frameDuration(4) ...,
// which the demuxer keeps as the stream's extra data; the first packet is the first sample.
std::optional<TimecodeTrackFacts> timecodeFacts(AVFormatContext* ctx, int index) {
  const AVStream* s = ctx->streams[index];
  TimecodeTrackFacts t;
  t.subtype = fourCC(s->codecpar->codec_tag);
  if (s->codecpar->extradata_size >= 16) {
    const std::uint8_t* d = s->codecpar->extradata;
    t.flags = readBE32(d + 4);
    t.frameDurationTimescale = static_cast<std::int32_t>(readBE32(d + 8));
    t.frameDurationValue = readBE32(d + 12);
  }
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    ctx->streams[i]->discard = static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  ffmpeg::PacketPtr packet(av_packet_alloc());
  while (av_read_frame(ctx, packet.get()) >= 0) {
    const bool ours = packet->stream_index == index;
    if (ours) t.firstSample.assign(packet->data, packet->data + packet->size);
    av_packet_unref(packet.get());
    if (ours) break;
  }
  return t;
}

MediaFacts factsOf(AVFormatContext* ctx) {
  MediaFacts facts;
  facts.durationSeconds = ffmpeg::lengthSeconds(ctx);
  facts.durationStated = ffmpeg::statedLength(ctx).has_value();
  int timecodeIndex = -1;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* s = ctx->streams[i];
    switch (s->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (!(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
          facts.videoTracks.push_back(videoFacts(s));
          facts.videoTracks.back().statedEnd = statedTrackEnd(ctx, static_cast<int>(i));
          if (!facts.timecodeTag) facts.timecodeTag = tag(s->metadata);
        }
        break;
      case AVMEDIA_TYPE_AUDIO: facts.audioTracks.push_back(audioFacts(s)); break;
      case AVMEDIA_TYPE_DATA: {
        const std::string cc = fourCC(s->codecpar->codec_tag);
        if ((cc == "tmcd" || cc == "tc64") && timecodeIndex < 0) {
          timecodeIndex = static_cast<int>(i);
          if (auto t = tag(s->metadata)) facts.timecodeTag = t;
        }
        break;
      }
      default: break;
    }
  }
  if (!facts.timecodeTag) facts.timecodeTag = tag(ctx->metadata);
  if (timecodeIndex >= 0) facts.timecodeTrack = timecodeFacts(ctx, timecodeIndex);
  return facts;
}

}  // namespace

std::optional<MediaFacts> readMediaFacts(std::shared_ptr<const MediaFile> file, std::stop_token stop) {
  ffmpeg::FormatPtr ctx;
  if (ffmpeg::openInput(std::move(file), ctx, stop) < 0) return std::nullopt;
  MediaFacts facts = factsOf(ctx.get());
  // Looking for a timecode's first sample may have been stopped partway.
  throwIfStopped(stop);
  return facts;
}

}  // namespace kestrane::platform
