#include "kestrane/platform/FrameGrabber.hpp"

#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/TrackReading.hpp"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestrane::platform {

struct FrameGrabber::Impl {
  ffmpeg::FormatPtr format;
  ffmpeg::CodecPtr codec;
  int stream = -1;
  ffmpeg::PacketPtr packet{av_packet_alloc()};
  ffmpeg::FramePtr frame{av_frame_alloc()};
  ffmpeg::FramePtr shown{av_frame_alloc()};

  // Decodes from a seek point up to the frame on screen at `target` (stream ticks).
  bool frameAt(std::int64_t target) {
    if (av_seek_frame(format.get(), stream, target, AVSEEK_FLAG_BACKWARD) < 0)
      av_seek_frame(format.get(), stream, 0, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(codec.get());
    av_frame_unref(shown.get());
    bool have = false;
    bool draining = false;
    while (true) {
      int rc = avcodec_receive_frame(codec.get(), frame.get());
      if (rc == 0) {
        const std::int64_t pts = frame->best_effort_timestamp;
        if (have && pts != AV_NOPTS_VALUE && pts > target) {
          av_frame_unref(frame.get());
          return true;
        }
        av_frame_unref(shown.get());
        av_frame_move_ref(shown.get(), frame.get());
        have = true;
        continue;
      }
      if (rc == AVERROR_EOF) return have;
      if (rc != AVERROR(EAGAIN)) return have;
      if (draining) return have;
      rc = av_read_frame(format.get(), packet.get());
      if (rc < 0) {
        // A stop ends it here, and so does a read the system failed: that is no end of the track.
        if (const std::optional<int> failure = ffmpeg::readFailure(format.get()))
          throw FileReadError(std::string("can't read the picture: ") + std::strerror(*failure));
        avcodec_send_packet(codec.get(), nullptr);
        draining = true;
        continue;
      }
      if (packet->stream_index == stream) avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
    }
  }
};

FrameGrabber::FrameGrabber(std::shared_ptr<const MediaFile> file, std::stop_token stop)
    : impl_(std::make_unique<Impl>()) {
  try {
    impl_->stream = openTrack(std::move(file), AVMEDIA_TYPE_VIDEO, impl_->format, std::move(stop));
  } catch (const MediaOpenError&) {
    return;
  }
  if (impl_->stream < 0) return;
  if (ffmpeg::openDecoder(impl_->format->streams[impl_->stream], impl_->codec) < 0) impl_->stream = -1;
}

FrameGrabber::~FrameGrabber() = default;

bool FrameGrabber::isOpen() const { return impl_->stream >= 0 && impl_->codec; }

std::optional<GreyThumbnail> FrameGrabber::thumbnail(double seconds) {
  if (!isOpen() || !std::isfinite(seconds)) return std::nullopt;
  const AVStream* s = impl_->format->streams[impl_->stream];
  // Source time, on the file's clock as every reader of it, plus a hair for rounding.
  const std::int64_t target = streamTimestamp(impl_->format.get(), s, std::max(0.0, seconds) + 1e-9);
  if (!impl_->frameAt(target)) return std::nullopt;
  const AVFrame* f = impl_->shown.get();
  if (f->width <= 0 || f->height <= 0) return std::nullopt;

  // Fit within 64 × 64 keeping the displayed aspect, as a thumbnail generator would.
  double aspect = static_cast<double>(f->width) / f->height;
  if (f->sample_aspect_ratio.num > 0 && f->sample_aspect_ratio.den > 0) aspect *= av_q2d(f->sample_aspect_ratio);
  const int w = aspect >= 1 ? 64 : std::max(1, static_cast<int>(std::lround(64 * aspect)));
  const int h = aspect >= 1 ? std::max(1, static_cast<int>(std::lround(64 / aspect))) : 64;

  // The picture is compared in linear light, where light adds up: each pixel's sRGB values are
  // decoded to linear before the grey is taken and before any averaging. The first reduction
  // (to four times the fitted size) still averages encoded values; it only removes detail far
  // below what the comparison sees.
  const int ws = 4 * w, hs = 4 * h;
  SwsContext* toRGB = sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), ws, hs,
                                     AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr);
  if (!toRGB) return std::nullopt;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(ws) * hs * 3);
  uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {ws * 3, 0, 0, 0};
  const bool scaled = sws_scale(toRGB, f->data, f->linesize, 0, f->height, planes, strides) > 0;
  sws_freeContext(toRGB);
  if (!scaled) return std::nullopt;
  return linearGreyThumbnail(rgb, ws, hs, w, h);
}

GreyThumbnail linearGreyThumbnail(const std::vector<std::uint8_t>& rgb, int width, int height, int w, int h) {
  static const std::array<float, 256> linear = [] {
    std::array<float, 256> table{};
    for (int v = 0; v < 256; ++v) {
      const double c = v / 255.0;
      table[static_cast<std::size_t>(v)] =
          static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return table;
  }();
  // Linear luminance averaged over the blocks that make each pixel of the w × h picture.
  std::vector<double> fitted(static_cast<std::size_t>(w) * h, 0.0);
  std::vector<int> counts(fitted.size(), 0);
  for (int y = 0; y < height; ++y) {
    const int fy = std::min(h - 1, y * h / height);
    for (int x = 0; x < width; ++x) {
      const int fx = std::min(w - 1, x * w / width);
      const std::uint8_t* px = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      const double luminance = 0.2126 * linear[px[0]] + 0.7152 * linear[px[1]] + 0.0722 * linear[px[2]];
      const auto k = static_cast<std::size_t>(fy) * w + fx;
      fitted[k] += luminance;
      ++counts[k];
    }
  }
  for (std::size_t k = 0; k < fitted.size(); ++k) fitted[k] /= std::max(1, counts[k]);
  // Stretched onto 32 × 32 bilinearly, still in linear light.
  auto at = [&](int x, int y) {
    return fitted[static_cast<std::size_t>(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)];
  };
  GreyThumbnail thumb{};
  for (int ty = 0; ty < 32; ++ty) {
    const double sy = std::max(0.0, (ty + 0.5) * h / 32.0 - 0.5);
    const int y0 = static_cast<int>(sy);
    const double dy = sy - y0;
    for (int tx = 0; tx < 32; ++tx) {
      const double sx = std::max(0.0, (tx + 0.5) * w / 32.0 - 0.5);
      const int x0 = static_cast<int>(sx);
      const double dx = sx - x0;
      const double v = (at(x0, y0) * (1 - dx) + at(x0 + 1, y0) * dx) * (1 - dy) +
                       (at(x0, y0 + 1) * (1 - dx) + at(x0 + 1, y0 + 1) * dx) * dy;
      thumb[static_cast<std::size_t>(ty) * 32 + tx] =
          static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    }
  }
  return thumb;
}

}  // namespace kestrane::platform
