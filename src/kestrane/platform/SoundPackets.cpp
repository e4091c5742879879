#include "kestrane/platform/SoundPackets.hpp"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/SampleCounter.hpp"
#include "kestrane/platform/TrackReading.hpp"

namespace kestrane::platform {

namespace {

// Unreadable packets in a row after which the rest of the file counts as gone.
constexpr int kReadFailuresToGiveUp = 64;

// Samples a sound packet holds: its codec's fixed frame, what its size makes of it (plain PCM),
// or its duration.
double samplesOf(const AVStream* stream, const AVPacket* packet) {
  const AVCodecParameters* sound = stream->codecpar;
  if (sound->frame_size > 0) return sound->frame_size;
  if (const int samples = av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(sound), packet->size);
      samples > 0)
    return samples;
  return static_cast<double>(std::max<std::int64_t>(packet->duration, 0)) * av_q2d(stream->time_base) *
         sound->sample_rate;
}

// A frame of the picture: its time and how long it says it lasts, in seconds.
struct Frame {
  double at = 0;
  double lasts = 0;
  bool operator<(const Frame& other) const { return at < other.at; }
};

// How long a picture lasts from its first frame's time: every frame until the next one, unless
// that is more than twice as long as the frame says it lasts: then the picture's clock jumped, and
// the frame counts for its own length.
double pictureReach(std::vector<Frame>& frames) {
  if (frames.empty()) return 0;
  std::sort(frames.begin(), frames.end());
  double reach = frames.front().at + frames.back().lasts;
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    const double next = frames[i + 1].at - frames[i].at;
    reach += next <= 2 * frames[i].lasts ? next : frames[i].lasts;
  }
  return reach;
}

}  // namespace

SoundClock::Held heldLength(std::shared_ptr<const MediaFile> file, std::stop_token stop) {
  ffmpeg::FormatPtr format;
  if (int rc = ffmpeg::openInput(std::move(file), format, std::move(stop)); rc < 0)
    throw AudioDecodeError("can't read the file through: " + ffmpeg::errorText(rc));
  const int sound = firstTrack(format.get(), AVMEDIA_TYPE_AUDIO);
  const int picture = firstTrack(format.get(), AVMEDIA_TYPE_VIDEO);
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const auto index = static_cast<int>(i);
    format->streams[i]->discard = index == sound || index == picture ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  std::optional<double> soundStart;
  double samples = 0;
  std::vector<Frame> frames;
  // A frame that doesn't say how long it lasts lasts a frame at the picture's rate.
  double frameSeconds = 0;
  if (picture >= 0) {
    const AVRational rate = av_guess_frame_rate(format.get(), format->streams[picture], nullptr);
    if (rate.num > 0 && rate.den > 0) frameSeconds = av_q2d(av_inv_q(rate));
  }
  ffmpeg::PacketPtr packet(av_packet_alloc());
  for (int failures = 0; failures < kReadFailuresToGiveUp;) {
    const int rc = readPacket(format.get(), packet.get());
    if (rc == AVERROR_EOF) break;
    if (rc < 0) {
      if (rc != AVERROR(EAGAIN)) ++failures;
      continue;
    }
    failures = 0;
    const AVStream* stream = format->streams[packet->stream_index];
    const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ts != AV_NOPTS_VALUE) {
      const double seconds = sourceSeconds(format.get(), stream, ts);
      if (packet->stream_index == picture)
        frames.push_back({seconds, packet->duration > 0
                                       ? static_cast<double>(packet->duration) * av_q2d(stream->time_base)
                                       : frameSeconds});
      if (packet->stream_index == sound) soundStart = std::min(soundStart.value_or(seconds), seconds);
    }
    if (packet->stream_index == sound) samples += samplesOf(stream, packet.get());
    av_packet_unref(packet.get());
  }
  SoundClock::Held held;
  if (sound >= 0 && format->streams[sound]->codecpar->sample_rate > 0)
    held.soundEnd = soundStart.value_or(0) + samples / format->streams[sound]->codecpar->sample_rate;
  held.length = std::max(held.soundEnd, pictureReach(frames));
  return held;
}

SoundClock fileClock(const AVFormatContext* format, int rate, std::shared_ptr<const MediaFile> file,
                     std::stop_token stop) {
  const std::optional<double> stated = ffmpeg::statedLength(format);
  if (stated) return {rate, stated};
  return {rate, std::nullopt, [file = std::move(file), stop = std::move(stop)] { return heldLength(file, stop); }};
}

namespace {

// What the decoder does with a packet's samples: drops them, trims its start (an encoder's
// priming, with the frame's time moved on by as much) or its end.
class Trimming {
 public:
  Trimming(int rate, AVRational timeBase) : rate_(rate), timeBase_(timeBase) {}

  // The samples of `packet` the decoder gives, of `frame` it decodes, with the timestamp `ts`
  // of the first moved on past those it drops; none when it drops them all.
  std::optional<std::int64_t> kept(const AVPacket* packet, std::int64_t frame, std::int64_t& ts) {
    std::size_t size = 0;
    std::int64_t padding = 0;
    if (const std::uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
        side && size >= 10) {
      skip_ = std::max<std::int64_t>(static_cast<std::int32_t>(AV_RL32(side)), 0);
      padding = AV_RL32(side + 4);
    }
    if (packet->flags & AV_PKT_FLAG_DISCARD) {
      skip_ = std::max<std::int64_t>(skip_ - frame, 0);
      return std::nullopt;
    }
    if (skip_ > 0) {
      if (frame <= skip_) {
        skip_ -= frame;
        return std::nullopt;
      }
      if (ts != AV_NOPTS_VALUE) ts += av_rescale_q(skip_, AVRational{1, rate_}, timeBase_);
      frame -= skip_;
      skip_ = 0;
    }
    if (padding > 0 && padding <= frame) {
      if (padding == frame) return std::nullopt;
      frame -= padding;
    }
    return frame;
  }

 private:
  int rate_;
  AVRational timeBase_;
  std::int64_t skip_ = 0;
};

// Whether the packets of a sound track can say what its decoder gives: every packet one frame of
// the codec's fixed size, given out as it comes in.
bool framedByPackets(const AVStream* stream) {
  const AVCodecParameters* sound = stream->codecpar;
  const AVCodec* codec = avcodec_find_decoder(sound->codec_id);
  return codec && sound->frame_size > 0 && sound->sample_rate > 0 &&
         !(codec->capabilities & (AV_CODEC_CAP_DELAY | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
}

bool changesParameters(const AVPacket* packet) {
  return av_packet_get_side_data(packet, AV_PKT_DATA_PARAM_CHANGE, nullptr) ||
         av_packet_get_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, nullptr);
}

}  // namespace

std::optional<CountedClock> packetCountedClock(std::shared_ptr<const MediaFile> file, std::stop_token stop) {
  ffmpeg::FormatPtr format;
  const int track = openTrack(file, AVMEDIA_TYPE_AUDIO, format, stop);
  if (track < 0 || !framedByPackets(format->streams[track])) return std::nullopt;
  const AVStream* stream = format->streams[track];
  const int rate = stream->codecpar->sample_rate;
  const std::int64_t frame = stream->codecpar->frame_size;
  // A packet's duration is kept to its time base's ticks (whole milliseconds in Matroska).
  const double tick = std::max(av_q2d(stream->time_base) * rate, 1.0);
  SoundClock clock = fileClock(format.get(), rate, std::move(file), stop);
  SampleCounter counter(rate);
  Trimming trimming(rate, stream->time_base);
  bool endedShort = false;
  ffmpeg::PacketPtr packet(av_packet_alloc());
  while (true) {
    const int rc = readPacket(format.get(), packet.get());
    if (rc == AVERROR_EOF) break;
    if (rc == AVERROR(EAGAIN)) continue;
    // What a decode makes of damage the packets can't tell.
    if (rc < 0) return std::nullopt;
    if (packet->stream_index != track) {
      av_packet_unref(packet.get());
      continue;
    }
    // A packet may last longer than its frame (a gap follows it), or for a time it doesn't say;
    // only the last one shorter (the end of the sound trimmed by it).
    const double lasts = static_cast<double>(packet->duration) * av_q2d(stream->time_base) * rate;
    if (endedShort || (packet->flags & AV_PKT_FLAG_CORRUPT) || changesParameters(packet.get())) return std::nullopt;
    endedShort = packet->duration > 0 && lasts < static_cast<double>(frame) - tick;
    std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const std::optional<std::int64_t> kept = trimming.kept(packet.get(), frame, ts);
    av_packet_unref(packet.get());
    if (!kept) continue;
    const std::optional<double> seconds =
        ts != AV_NOPTS_VALUE ? std::optional(sourceSeconds(format.get(), stream, ts)) : std::nullopt;
    counter.add(clock.place(seconds, *kept), *kept);
  }
  return counter.clock();
}

}  // namespace kestrane::platform
