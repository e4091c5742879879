#include "kestrane/platform/TrackReading.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::platform {

int firstTrack(const AVFormatContext* format, AVMediaType kind) {
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* stream = format->streams[i];
    if (stream->codecpar->codec_type != kind) continue;
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
    return static_cast<int>(i);
  }
  return -1;
}

int openTrack(std::shared_ptr<const MediaFile> file, AVMediaType kind, ffmpeg::FormatPtr& format,
              std::stop_token stop) {
  const std::string path = file->path();
  if (int rc = ffmpeg::openInput(std::move(file), format, std::move(stop)); rc < 0)
    throw MediaOpenError("Can't open " + path + ": " + ffmpeg::errorText(rc));
  const int track = firstTrack(format.get(), kind);
  if (track < 0) return track;
  for (unsigned i = 0; i < format->nb_streams; ++i)
    format->streams[i]->discard = static_cast<int>(i) == track ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  return track;
}

double fileStartSeconds(const AVFormatContext* format) {
  if (format->start_time == AV_NOPTS_VALUE) return 0;
  return static_cast<double>(format->start_time) / AV_TIME_BASE;
}

double sourceSeconds(const AVFormatContext* format, const AVStream* stream, std::int64_t timestamp) {
  return static_cast<double>(timestamp) * av_q2d(stream->time_base) - fileStartSeconds(format);
}

std::optional<double> statedTrackEnd(const AVFormatContext* format, int track) {
  const AVStream* stream = format->streams[track];
  const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE)
    return sourceSeconds(format, stream, start + stream->duration);
  const AVDictionaryEntry* tag = av_dict_get(stream->metadata, "DURATION", nullptr, 0);
  int hours = 0, minutes = 0;
  double seconds = 0;
  if (!tag || std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) != 3 || hours < 0 || minutes < 0 ||
      !(seconds >= 0))
    return std::nullopt;
  return sourceSeconds(format, stream, start) + hours * 3600.0 + minutes * 60.0 + seconds;
}

std::int64_t streamTimestamp(const AVFormatContext* format, const AVStream* stream, double seconds) {
  const double ticks = (seconds + fileStartSeconds(format)) / av_q2d(stream->time_base);
  return static_cast<std::int64_t>(std::floor(ticks));
}

int readPacket(AVFormatContext* format, AVPacket* packet) {
  const int rc = av_read_frame(format, packet);
  if (rc < 0) {
    if (const std::optional<int> failure = ffmpeg::readFailure(format))
      throw FileReadError(std::string("can't read the file: ") + std::strerror(*failure));
  }
  return rc;
}

bool receiveFrame(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet, int track, AVFrame* frame,
                  bool& flushed, const char* what) {
  while (true) {
    int rc = avcodec_receive_frame(codec, frame);
    if (rc == 0) return true;
    if (rc == AVERROR_EOF || (rc == AVERROR(EAGAIN) && flushed)) return false;
    if (rc != AVERROR(EAGAIN) && !ffmpeg::isDamagedData(rc))
      throw MediaReadError(std::string("can't decode the ") + what + ": " + ffmpeg::errorText(rc));
    // After a damaged frame the decoder wants more packets like after any other.

    rc = readPacket(format, packet);
    if (rc < 0) {
      flushed = true;
      avcodec_send_packet(codec, nullptr);
      continue;
    }
    if (packet->stream_index != track) {
      av_packet_unref(packet);
      continue;
    }
    rc = avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    if (rc < 0 && rc != AVERROR(EAGAIN) && !ffmpeg::isDamagedData(rc))
      throw MediaReadError(std::string("can't decode the ") + what + ": " + ffmpeg::errorText(rc));
  }
}

namespace {

// Seeks to a keyframe before `seconds`, through the file's picture track when it has one: that is
// the track containers index (Matroska's cues often list picture keyframes alone, and seeking the
// sound without them reads every cluster up to the time), and the sound is decoded on from there.
int seekTo(AVFormatContext* format, int track, double seconds) {
  const int picture = firstTrack(format, AVMEDIA_TYPE_VIDEO);
  const int by = picture >= 0 ? picture : track;
  return av_seek_frame(format, by, streamTimestamp(format, format->streams[by], seconds), AVSEEK_FLAG_BACKWARD);
}

}  // namespace

bool seekBefore(AVFormatContext* format, int track, double seconds, double firstMargin,
                const std::function<bool()>& landedInTime, const char* what) {
  double margin = firstMargin;
  for (int attempt = 0; attempt < 4; ++attempt, margin *= 4) {
    const double aim = seconds - margin;
    if (aim <= 0) break;
    if (seekTo(format, track, aim) < 0) break;
    if (landedInTime()) return true;
  }
  const AVStream* stream = format->streams[track];
  const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  if (av_seek_frame(format, track, start, AVSEEK_FLAG_BACKWARD) < 0 &&
      avformat_seek_file(format, -1, INT64_MIN, 0, 0, 0) < 0)
    throw MediaReadError(std::string("can't seek in the ") + what);
  return false;
}

}  // namespace kestrane::platform
