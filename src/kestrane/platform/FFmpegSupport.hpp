#pragma once
// Small RAII helpers shared by the FFmpeg-based layers. Internal to the platform folder.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <memory>
#include <string>

namespace kestrane::platform::ffmpeg {

std::string errorText(int code);

// Whether a decoder's error concerns the data it was given (damaged or unsupported bits of the
// stream, which a reader skips) rather than this machine (memory) or the caller's use of the
// decoder, which end the reading.
bool isDamagedData(int code);

struct FormatCloser {
  void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct CodecCloser {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;

// Opens a container and reads its stream information; returns the FFmpeg error code on failure.
int openInput(const std::string& path, FormatPtr& out);

// Opens a decoder for one stream; returns the FFmpeg error code on failure.
int openDecoder(const AVStream* stream, CodecPtr& out, int threads = 1);

}  // namespace kestrane::platform::ffmpeg
