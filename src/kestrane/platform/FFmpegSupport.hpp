#pragma once
// Small RAII helpers shared by the FFmpeg-based layers. Internal to the platform folder.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::platform::ffmpeg {

std::string errorText(int code);

// Whether a decoder's error concerns the data it was given (damaged or unsupported bits of the
// stream, which a reader skips) rather than this machine (memory) or the caller's use of the
// decoder, which end the reading.
bool isDamagedData(int code);

// Closes the container, and the reading of a held file it was opened on (openInput of a
// MediaFile).
struct FormatCloser {
  void operator()(AVFormatContext* ctx) const;
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

// Opens the container of a held file, reading it through its open descriptor only, and reads
// its stream information; returns the FFmpeg error code on failure. The container holds the file
// open while it lives. Once `stop` is requested every read of it fails at once, however far the
// container would read (a long damaged tail is searched through for the next packet): opening
// then throws Cancelled, and so does readFailure. Throws FileReadError when the system failed to
// read the file while it was being opened.
int openInput(std::shared_ptr<const MediaFile> file, FormatPtr& out, std::stop_token stop = {});

// The system's error number of the last read of the held file that failed, for a container
// opened on a MediaFile; none when every read succeeded or ended at the file's end. Throws
// Cancelled when the read failed because the reading's stop was requested.
std::optional<int> readFailure(const AVFormatContext* format);

// The container's length in seconds: its own, else its longest track's; 0 when it gives none.
double lengthSeconds(const AVFormatContext* format);
// That length when the container states it: none when it gives none (a stream written through
// a pipe) or only a guess from its bit rate (raw AAC, MP3 without a header of its length).
std::optional<double> statedLength(const AVFormatContext* format);

// Opens a decoder for one stream; returns the FFmpeg error code on failure.
int openDecoder(const AVStream* stream, CodecPtr& out, int threads = 1);

}  // namespace kestrane::platform::ffmpeg
