#include "kestrane/platform/FrameGrabber.hpp"

#include "kestrane/platform/FFmpegSupport.hpp"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
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
                avcodec_send_packet(codec.get(), nullptr);
                draining = true;
                continue;
            }
            if (packet->stream_index == stream) avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
        }
    }
};

FrameGrabber::FrameGrabber(const std::string& path) : impl_(std::make_unique<Impl>()) {
    if (ffmpeg::openInput(path, impl_->format) < 0) return;
    for (unsigned i = 0; i < impl_->format->nb_streams; ++i) {
        const AVStream* s = impl_->format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            impl_->stream = static_cast<int>(i);
            break;
        }
    }
    if (impl_->stream < 0) return;
    for (unsigned i = 0; i < impl_->format->nb_streams; ++i)
        impl_->format->streams[i]->discard = static_cast<int>(i) == impl_->stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    if (ffmpeg::openDecoder(impl_->format->streams[impl_->stream], impl_->codec) < 0) impl_->stream = -1;
}

FrameGrabber::~FrameGrabber() = default;

bool FrameGrabber::isOpen() const { return impl_->stream >= 0 && impl_->codec; }

std::optional<GreyThumbnail> FrameGrabber::thumbnail(double seconds) {
    if (!isOpen() || !std::isfinite(seconds)) return std::nullopt;
    const AVStream* s = impl_->format->streams[impl_->stream];
    std::int64_t target = static_cast<std::int64_t>(std::floor(std::max(0.0, seconds) / av_q2d(s->time_base) + 1e-6));
    if (s->start_time != AV_NOPTS_VALUE) target += s->start_time;
    if (!impl_->frameAt(target)) return std::nullopt;
    const AVFrame* f = impl_->shown.get();
    if (f->width <= 0 || f->height <= 0) return std::nullopt;

    // Fit within 64 × 64 keeping the displayed aspect, as a thumbnail generator would.
    double aspect = static_cast<double>(f->width) / f->height;
    if (f->sample_aspect_ratio.num > 0 && f->sample_aspect_ratio.den > 0) aspect *= av_q2d(f->sample_aspect_ratio);
    const int w = aspect >= 1 ? 64 : std::max(1, static_cast<int>(std::lround(64 * aspect)));
    const int h = aspect >= 1 ? std::max(1, static_cast<int>(std::lround(64 / aspect))) : 64;

    SwsContext* toSmall = sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h,
                                         AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr);
    SwsContext* toThumb = sws_getContext(w, h, AV_PIX_FMT_GRAY8, 32, 32, AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr,
                                         nullptr, nullptr);
    std::optional<GreyThumbnail> result;
    if (toSmall && toThumb) {
        std::vector<std::uint8_t> small(static_cast<std::size_t>(w) * h);
        uint8_t* smallPlanes[4] = {small.data(), nullptr, nullptr, nullptr};
        int smallStrides[4] = {w, 0, 0, 0};
        GreyThumbnail thumb{};
        uint8_t* thumbPlanes[4] = {thumb.data(), nullptr, nullptr, nullptr};
        int thumbStrides[4] = {32, 0, 0, 0};
        if (sws_scale(toSmall, f->data, f->linesize, 0, f->height, smallPlanes, smallStrides) > 0 &&
            sws_scale(toThumb, smallPlanes, smallStrides, 0, h, thumbPlanes, thumbStrides) > 0)
            result = thumb;
    }
    sws_freeContext(toSmall);
    sws_freeContext(toThumb);
    return result;
}

}  // namespace kestrane::platform
