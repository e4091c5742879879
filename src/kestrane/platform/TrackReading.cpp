#include "kestrane/platform/TrackReading.hpp"

#include <cmath>

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

double fileStartSeconds(const AVFormatContext* format) {
    if (format->start_time == AV_NOPTS_VALUE) return 0;
    return static_cast<double>(format->start_time) / AV_TIME_BASE;
}

double sourceSeconds(const AVFormatContext* format, const AVStream* stream, std::int64_t timestamp) {
    return static_cast<double>(timestamp) * av_q2d(stream->time_base) - fileStartSeconds(format);
}

std::int64_t streamTimestamp(const AVFormatContext* format, const AVStream* stream, double seconds) {
    const double ticks = (seconds + fileStartSeconds(format)) / av_q2d(stream->time_base);
    return static_cast<std::int64_t>(std::floor(ticks));
}

} // namespace kestrane::platform
