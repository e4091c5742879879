#pragma once
// What the per-track readers of a media file share: how a track is chosen, where its time zero
// lies, and the error a failed read raises. Internal to the platform folder.

extern "C" {
#include <libavformat/avformat.h>
}

#include <stdexcept>

namespace kestrane::platform {

// Reading a track failed after the file opened; what() is the bare detail.
struct MediaReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The first track of the kind in file order, leaving out cover art; -1 when there is none.
int firstTrack(const AVFormatContext* format, AVMediaType kind);

// The file's own start time in seconds. Source time 0 is the start of the file, so times of
// every track are measured from it and stay in step with each other.
double fileStartSeconds(const AVFormatContext* format);

// A timestamp of `stream` in seconds of source time.
double sourceSeconds(const AVFormatContext* format, const AVStream* stream, std::int64_t timestamp);

// Seconds of source time as a timestamp of `stream`.
std::int64_t streamTimestamp(const AVFormatContext* format, const AVStream* stream, double seconds);

} // namespace kestrane::platform
