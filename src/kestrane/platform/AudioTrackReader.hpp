#pragma once
// Decodes the first audio track of a held media file on demand as planar float samples at a
// chosen rate and channel count, addressed by sample position on source time: the one sound reader
// (SoundDecoder), read by position. Reading mostly moves forward; a position far ahead or behind is
// reached by seeking. Internal to the platform folder.

#include "kestrane/platform/SoundDecoder.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace kestrane::platform {

class AudioTrackReader {
 public:
  // Opens the held file; throws MediaOpenError when it is not readable media, AudioDecodeError
  // when its audio track can't be decoded. A file without an audio track opens too: hasTrack() is
  // then false and nothing else may be called. Once `stop` is requested, opening and reading
  // throw Cancelled.
  explicit AudioTrackReader(std::shared_ptr<const MediaFile> file, std::stop_token stop = {});
  ~AudioTrackReader();

  bool hasTrack() const { return sound_.hasTrack(); }
  int trackSampleRate() const;
  int trackChannelCount() const;

  // Chooses what read() delivers: planar float at `sampleRate` with `channels` channels (more or
  // fewer source channels are mixed to their default layout). Call once, before reading.
  void setOutput(int sampleRate, int channels);

  // Fills `count` samples of every channel with the samples at positions start … start+count-1,
  // position p lying at p / sampleRate seconds of source time: the sound where the file's
  // timestamps put it (SoundClock), silence where the track has none. Throws what
  // SoundDecoder::next throws: MediaReadError when decoding fails or the file can't be read,
  // SoundJumpError where the sound's clock does what no recording's does.
  void read(std::int64_t start, int count, float* const* planes);

  // Where the track's samples end, once a read has gone past its last one: silence after it is
  // no sound of the file's. Nothing while the track goes on as far as has been read.
  std::optional<std::int64_t> end() const;
  // The track's own stated length in seconds of source time, when the file states one.
  std::optional<double> statedEnd() const;
  // The position of the track's first sample, once a read from the track's start has found it.
  std::optional<std::int64_t> firstPosition() const { return firstPosition_; }

 private:
  bool decodeMore();
  void take(const PlacedBlock& block);
  void seekTo(std::int64_t position);
  void restart(bool fromTrackStart);
  std::int64_t bufferedEnd() const;
  void dropRead();

  SoundDecoder sound_;
  PlacedBlock block_;
  int rate_ = 0;
  int channels_ = 0;

  // Decoded samples not yet read: positions bufferStart_ + head_ … bufferedEnd()-1. Positions
  // silenceFrom_ … bufferStart_-1 are known to hold no sound: a gap in the track, or the time
  // before its first sample.
  std::vector<std::vector<float>> buffer_;
  std::size_t head_ = 0;
  std::int64_t bufferStart_ = 0;
  std::int64_t silenceFrom_ = 0;
  bool anchored_ = false;       // bufferStart_ is known
  bool fromTrackStart_ = true;  // decoding began at the track's first sample
  bool ended_ = false;
  std::optional<std::int64_t> firstPosition_;
};

}  // namespace kestrane::platform
