#pragma once
// Streams the first audio track of a held media file as interleaved 32-bit float samples at the
// track's own rate and channel count, one decoded block at a time.

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CountedClock.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/SoundClock.hpp"

namespace kestrane::platform {

// The file opened but holds no audio track.
struct NoAudioStreamError : UserFacingError {
  using UserFacingError::UserFacingError;
};
// The audio track could not be decoded; what() is the bare detail.
struct AudioDecodeError : MediaReadError {
  using MediaReadError::MediaReadError;
};

struct AudioBlock {
  const float* interleaved = nullptr;
  std::size_t frames = 0;
  int channels = 0;
  double sampleRate = 0;
};

// What a decode met on its way through the track.
struct DecodeReport {
  // Runs of packets that could not be read or decoded and were skipped, as the ffmpeg tool
  // skips them; consecutive damaged packets count once.
  std::size_t damagedStretches = 0;
  // Where the sound's place on the file's clock parts from counting its decoded samples from the
  // first one, as sessions earlier builds stored were timed.
  CountedClock countedClock;
};

// Calls `sink` for every block of the sound in time order, from source time 0: the sound placed
// where the file's timestamps put it (SoundClock), with blocks of silence for any time before it
// and between its stretches, and what a stretch gives twice given once. Blocks keep the rate and
// channel count of the first decoded frame. Damaged packets lose their samples only. Throws
// MediaOpenError when the file is no media, NoAudioStreamError, AudioDecodeError,
// SoundJumpError where the sound's clock does what no recording's does, FileReadError when the
// system fails to read the file (that is no end of it), or Cancelled once `stop` is requested
// (asked between blocks, and by every read of the file).
DecodeReport decodeAudio(std::shared_ptr<const MediaFile> file, const std::function<void(const AudioBlock&)>& sink,
                         std::stop_token stop = {});

// Where the held file's sound, counted by samples from the first as earlier builds placed it,
// lies on the file's clock (DecodeReport::countedClock): read from its packets alone where they
// say exactly what its decoder gives, else by decoding it whole. Throws as decodeAudio does.
CountedClock countedClock(std::shared_ptr<const MediaFile> file, std::stop_token stop = {});

// True when the held file opens as media with an audio track and no picture track: a plain
// audio file.
bool isAudioOnlyFile(std::shared_ptr<const MediaFile> file);

}  // namespace kestrane::platform
