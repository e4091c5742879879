#pragma once
// Copies of media whose packets' timestamps are changed, as recorders and tools leave them: a
// dropout (sound packets lost, the rest keeping their times), a clock that jumps, sound that
// starts after the picture. Made with FFmpeg's own muxers, without re-encoding.
extern "C" {
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kestrane::test {

// What to do with one packet: its new decoding time in seconds of the packet's stream, or nothing
// to drop it. `sound`: whether it is a packet of a sound track (whose decoding and presentation
// times are one).
using Retiming = std::function<std::optional<double>(double seconds, bool sound)>;

// Copies every track of `from` into `to` (its container chosen by the extension), each packet's
// presentation and decoding times moved by what `retime` makes of its decoding time, so pictures
// stay in decoding order. False when FFmpeg can't do it.
inline bool retimed(const std::filesystem::path& from, const std::filesystem::path& to, const Retiming& retime) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, from.c_str(), nullptr, nullptr) < 0) return false;
  bool ok = avformat_find_stream_info(in, nullptr) >= 0;
  AVFormatContext* out = nullptr;
  ok = ok && avformat_alloc_output_context2(&out, nullptr, nullptr, to.c_str()) >= 0;
  for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
    AVStream* s = avformat_new_stream(out, nullptr);
    ok = s && avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar) >= 0;
    if (ok) {
      s->codecpar->codec_tag = 0;
      s->time_base = in->streams[i]->time_base;
    }
  }
  ok = ok && avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  AVPacket* packet = av_packet_alloc();
  while (ok && av_read_frame(in, packet) >= 0) {
    const AVStream* s = in->streams[packet->stream_index];
    const bool sound = s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    const double tb = av_q2d(s->time_base);
    const std::int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    const std::optional<double> moved = retime(static_cast<double>(dts) * tb, sound);
    if (moved) {
      const auto by = static_cast<std::int64_t>(std::llround((*moved - static_cast<double>(dts) * tb) / tb));
      if (packet->pts != AV_NOPTS_VALUE) packet->pts += by;
      if (packet->dts != AV_NOPTS_VALUE) packet->dts += by;
      av_packet_rescale_ts(packet, s->time_base, out->streams[packet->stream_index]->time_base);
      packet->pos = -1;
      ok = av_interleaved_write_frame(out, packet) >= 0;
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  if (ok) ok = av_write_trailer(out) >= 0;
  if (out && out->pb) avio_closep(&out->pb);
  avformat_free_context(out);
  avformat_close_input(&in);
  return ok;
}

// `from` copied to `to` without the sound packets that start in [at, at + seconds): a recorder
// that dropped them under load, the rest keeping their times.
inline bool withSoundDropout(const std::filesystem::path& from, const std::filesystem::path& to, double at,
                             double seconds) {
  return retimed(from, to, [=](double t, bool sound) -> std::optional<double> {
    if (sound && t >= at && t < at + seconds) return std::nullopt;
    return t;
  });
}

}  // namespace kestrane::test
