#pragma once
// The one reader of a held file's sound. It decodes the first sound track in order, converts it
// to the samples its reader wants (SoundConverter), places every block where the file's clock
// puts it (SoundClock, bounded by the file's length) and keeps the rules for damage: a packet
// that can't be read or decoded loses its samples only, and a long run of them ends the track.
// decodeAudio streams it to the end; AudioTrackReader reads it by position, seeking. Internal to
// the platform folder.
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/SampleCounter.hpp"
#include "kestrane/platform/SoundClock.hpp"
#include "kestrane/platform/SoundConverter.hpp"

namespace kestrane::platform {

// A decoded block, placed on the file's clock.
struct PlacedBlock {
  std::int64_t position = 0;  // where its first sample lies, counted at the output's rate from source time 0
  std::int64_t silence = 0;   // samples without sound between the sound before it and it
  std::int64_t frames = 0;    // its samples; none where sound placed before covers all of it
  // Its first sample, as SoundConverter::data() holds them; valid until the next block.
  std::vector<const float*> data;
};

class SoundDecoder {
 public:
  // Opens the held file and a decoder for its first sound track; a file without one opens too,
  // with hasTrack() false and nothing else to call. Throws MediaOpenError when the file is no
  // media, AudioDecodeError when the track can't be decoded, and Cancelled once `stop` is
  // requested, as every later read does.
  SoundDecoder(std::shared_ptr<const MediaFile> file, std::stop_token stop);

  bool hasTrack() const { return track_ >= 0; }
  AVFormatContext* format() const { return format_.get(); }
  int track() const { return track_; }
  const AVStream* stream() const { return format_->streams[track_]; }

  // Chooses the samples blocks hold (by default interleaved at the first frame's rate and
  // channel count). Call before the first block.
  void setOutput(SoundFormat output) { converter_ = std::make_unique<SoundConverter>(output); }
  const SoundConverter& output() const { return *converter_; }

  // The next block of sound; false once the track has ended. Throws AudioDecodeError,
  // SoundJumpError, FileReadError when the system fails to read the file, and Cancelled.
  bool next(PlacedBlock& block);

  // Decoding goes on from where format() was just moved to: from the track's start, placed as a
  // whole decode places it, or from elsewhere, placed by timestamps alone.
  void restart(bool fromTrackStart);

  // What decoding from the track's start has met so far.
  DecodeReport report() const;

 private:
  void feed();
  void flush();
  void damaged() { pending_ = true; }
  bool place(PlacedBlock& block);

  std::shared_ptr<const MediaFile> file_;
  std::stop_token stop_;
  ffmpeg::FormatPtr format_;
  ffmpeg::CodecPtr codec_;
  ffmpeg::PacketPtr packet_;
  ffmpeg::FramePtr frame_;
  int track_ = -1;
  std::unique_ptr<SoundConverter> converter_;
  std::optional<SoundClock> clock_;
  std::optional<SampleCounter> counter_;
  std::size_t damagedStretches_ = 0;
  bool pending_ = false;  // damage met since the last decoded frame
  int readFailures_ = 0;  // unreadable packets in a row
  bool flushed_ = false;  // the decoder was told the track ended
  bool fromTrackStart_ = true;
};

}  // namespace kestrane::platform
