#include "kestrane/platform/AudioDecoder.hpp"

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

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

    void deliver(const AVFrame* frame, const std::function<void(const AudioBlock&)>& sink) {
        if (rate_ == 0) {
            rate_ = frame->sample_rate;
            channels_ = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1;
        }
        if (frame->nb_samples <= 0) return;
        const int frameChannels = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1;
        if (frame->format == AV_SAMPLE_FMT_FLT && frameChannels == channels_ &&
            frame->sample_rate == rate_) {
            sink(AudioBlock{reinterpret_cast<const float*>(frame->data[0]),
                            static_cast<std::size_t>(frame->nb_samples), channels_,
                            static_cast<double>(rate_)});
            return;
        }
        ensureResampler(frame);
        const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
        if (capacity <= 0) return;
        buffer_.resize(static_cast<std::size_t>(capacity) * channels_);
        auto* out = reinterpret_cast<uint8_t*>(buffer_.data());
        const int made = swr_convert(swr_.get(), &out, capacity,
                                     const_cast<const uint8_t**>(frame->extended_data),
                                     frame->nb_samples);
        if (made < 0) throw AudioDecodeError(ffmpeg::errorText(made));
        if (made > 0)
            sink(AudioBlock{buffer_.data(), static_cast<std::size_t>(made), channels_,
                            static_cast<double>(rate_)});
    }

private:
    void ensureResampler(const AVFrame* frame) {
        if (swr_ && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
            av_channel_layout_compare(&frame->ch_layout, &inLayout_) == 0)
            return;
        av_channel_layout_uninit(&inLayout_);
        AVChannelLayout in{};
        if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_copy(&in, &frame->ch_layout);
        else
            av_channel_layout_default(&in, frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : 1);
        AVChannelLayout out{};
        av_channel_layout_default(&out, channels_);
        if (av_channel_layout_compare(&in, &out) == 0 || in.nb_channels == channels_)
            av_channel_layout_copy(&out, &in);
        SwrContext* raw = nullptr;
        int rc = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLT, rate_, &in,
                                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                     nullptr);
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
};

} // namespace

bool isAudioOnlyFile(const std::string& path) {
    ffmpeg::FormatPtr format;
    if (ffmpeg::openInput(path, format) < 0) return false;
    bool audio = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = true;
        // Cover art rides along as a picture stream; it does not make the file a video.
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return false;
    }
    return audio;
}

void decodeAudio(const std::string& path, const std::function<void(const AudioBlock&)>& sink,
                 std::stop_token stop) {
    ffmpeg::FormatPtr format;
    if (int rc = ffmpeg::openInput(path, format); rc < 0)
        throw MediaOpenError("Can't read media at " + path + ": " + ffmpeg::errorText(rc));

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

    auto drain = [&] {
        while (true) {
            int rc = avcodec_receive_frame(codec.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) {
                // A damaged packet loses its samples only; decoding goes on like the ffmpeg tool.
                if (rc == AVERROR_INVALIDDATA) continue;
                throw AudioDecodeError(ffmpeg::errorText(rc));
            }
            interleaver.deliver(frame.get(), sink);
            av_frame_unref(frame.get());
        }
    };

    while (true) {
        throwIfStopped(stop);
        int rc = av_read_frame(format.get(), packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) throw AudioDecodeError(ffmpeg::errorText(rc));
        if (packet->stream_index == first) {
            int sent = avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA)
                throw AudioDecodeError(ffmpeg::errorText(sent));
            drain();
        } else {
            av_packet_unref(packet.get());
        }
    }
    avcodec_send_packet(codec.get(), nullptr);
    drain();
}

} // namespace kestrane::platform
