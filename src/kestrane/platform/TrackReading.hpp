#pragma once
// What the per-track readers of a media file share: how a track is chosen and opened, where its
// time zero lies, decoding forward, seeking, and the error a failed read raises. Internal to the
// platform folder.

extern "C" {
#include <libavformat/avformat.h>
}

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "kestrane/platform/FFmpegSupport.hpp"

namespace kestrane::platform {

// The first track of the kind in file order, leaving out cover art; -1 when there is none.
int firstTrack(const AVFormatContext* format, AVMediaType kind);

// Opens the held file keeping only the first track of the kind (the others are not even
// demuxed); returns its index, or -1 when there is none. Throws MediaOpenError; every read stops
// once `stop` is requested (ffmpeg::openInput).
int openTrack(std::shared_ptr<const MediaFile> file, AVMediaType kind, ffmpeg::FormatPtr& format,
              std::stop_token stop = {});

// The file's own start time in seconds. Source time 0 is the start of the file, so times of
// every track are measured from it and stay in step with each other.
double fileStartSeconds(const AVFormatContext* format);

// A timestamp of `stream` in seconds of source time.
double sourceSeconds(const AVFormatContext* format, const AVStream* stream, std::int64_t timestamp);

// Where `track` ends by the file's own account, in seconds of source time: from its stated
// duration, or the "DURATION" tag Matroska files carry per track; none when it states neither.
std::optional<double> statedTrackEnd(const AVFormatContext* format, int track);

// Seconds of source time as a timestamp of `stream`.
std::int64_t streamTimestamp(const AVFormatContext* format, const AVStream* stream, double seconds);

// The next packet of the file, as av_read_frame reads it. Throws FileReadError when the system
// failed to read the held file (an I/O error), which is no end of it, and Cancelled when the
// read failed because the reading's stop was requested.
int readPacket(AVFormatContext* format, AVPacket* packet);

// Decodes the next frame of `track` into `frame`, feeding the decoder that track's packets as it
// asks for them. False once the decoder has given its last frame. A damaged block is skipped, as
// in the ffmpeg tool, and a truncated file ends where it can no longer be read; `flushed` notes
// that the decoder was told the track ended. Throws MediaReadError naming `what` ("video"), and
// what readPacket throws.
bool receiveFrame(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet, int track, AVFrame* frame,
                  bool& flushed, const char* what);

// Seeks `track` to a keyframe before `seconds` (through the file's picture track, which is the one
// containers index, when it has one). A try aims `firstMargin` early (four times
// earlier on each retry, up to four tries, since keyframe seeking in some containers lands after
// the asked time) and calls `landedInTime`, which restarts decoding there and says whether the
// first frame starts early enough. When no try lands in time, or the time is too near the start,
// seeks to the track's start and returns false: the caller decodes from there. Throws
// MediaReadError naming `what` when even that fails.
bool seekBefore(AVFormatContext* format, int track, double seconds, double firstMargin,
                const std::function<bool()>& landedInTime, const char* what);

}  // namespace kestrane::platform
