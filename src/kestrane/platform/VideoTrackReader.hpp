#pragma once
// Decodes the first video track of a media file on demand and answers which picture is on
// screen at a given source time. Reading mostly moves forward; a time far ahead or behind the
// decoder's position is reached by seeking. Internal to the platform folder.

#include "kestrane/platform/FFmpegSupport.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace kestrane::platform {

class VideoTrackReader {
 public:
  // Opens the held file; throws MediaOpenError when it is not readable media. A file without a
  // video track opens too: hasTrack() is then false and nothing else may be called.
  // Once `stop` is requested, opening and reading throw Cancelled.
  explicit VideoTrackReader(std::shared_ptr<const MediaFile> file, std::stop_token stop = {});

  bool hasTrack() const { return track_ >= 0; }
  const AVCodecParameters& parameters() const;
  AVRational sampleAspectRatio() const;
  // The track's rotation as stored in the file, if any.
  std::optional<std::array<std::int32_t, 9>> displayMatrix() const;

  // The picture on screen at `seconds` of source time: the last one that starts at or before
  // it, or the first picture for a time before the track begins. Null only for a track with
  // no decodable picture. The frame stays valid until the next call.
  // Throws MediaReadError when decoding fails.
  const AVFrame* pictureAt(double seconds);

  // Where the track's pictures end (the last one's start and a frame), once decoding has passed
  // the last one; nothing while the track goes on as far as has been read.
  std::optional<double> end() const;
  // The track's own stated length in seconds of source time, when the file states one.
  std::optional<double> statedEnd() const;

 private:
  struct Picture {
    ffmpeg::FramePtr frame;
    double start = 0;
    bool valid = false;
  };

  bool decodeNext(Picture& into);
  void seekTo(double seconds);
  void restart(bool fromTrackStart);

  ffmpeg::FormatPtr format_;
  ffmpeg::CodecPtr codec_;
  ffmpeg::PacketPtr packet_;
  int track_ = -1;
  double frameSeconds_ = 1.0 / 30;
  Picture current_;
  Picture next_;
  double lastStart_ = 0;
  bool fromTrackStart_ = true;  // decoding began at the track's first picture
  int picturesTaken_ = 0;       // pictures made current since decoding began
  bool flushed_ = false;        // the decoder was told the track ended
  bool ended_ = false;          // the decoder gave its last picture
};

}  // namespace kestrane::platform
