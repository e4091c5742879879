#pragma once
// What the container says about a media file, read without decoding its pictures or sound.

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrane::platform {

struct VideoTrackFacts {
  double nominalFrameRate = 0;                 // frames per second as the track declares it; 0 if unknown
  std::int64_t minFrameDurationValue = 0;      // shortest frame duration, value / timescale;
  std::int32_t minFrameDurationTimescale = 0;  // timescale 0 when unknown
  double width = 0;                            // stored size, no display transform
  double height = 0;
  std::string codecTag;          // four-character code, e.g. "avc1", "ap4h"
  bool hasAlphaChannel = false;  // the pixel format carries alpha
  // Where the track's pictures end by the file's own account, in seconds from the file's start;
  // none when it states no length of its own.
  std::optional<double> statedEnd;
};

struct AudioTrackFacts {
  std::optional<double> sampleRate;
  std::optional<int> channelCount;
};

// The first sample of a timecode track as stored, with its format description.
struct TimecodeTrackFacts {
  std::string subtype;  // "tmcd" or "tc64"
  std::int64_t frameDurationValue = 0;
  std::int32_t frameDurationTimescale = 0;
  std::uint32_t flags = 0;
  std::vector<std::uint8_t> firstSample;
};

struct MediaFacts {
  double durationSeconds = 0;
  // The container states the length: false when it gives none (a stream written through a pipe)
  // or only a guess from its bit rate (raw AAC, MP3 without a header of its length).
  bool durationStated = true;
  std::vector<VideoTrackFacts> videoTracks;  // file order
  std::vector<AudioTrackFacts> audioTracks;  // file order
  std::optional<TimecodeTrackFacts> timecodeTrack;
  // A "timecode" tag ("01:00:00;00") on the timecode, video or container level, for formats that
  // carry the start timecode as text only.
  std::optional<std::string> timecodeTag;
};

class MediaFile;

// Reads the facts of a held file; returns nothing when it cannot be opened as media. Throws
// Cancelled once `stop` is requested.
std::optional<MediaFacts> readMediaFacts(std::shared_ptr<const MediaFile> file, std::stop_token stop = {});

}  // namespace kestrane::platform
