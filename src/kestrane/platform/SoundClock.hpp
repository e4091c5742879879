#pragma once
// Where decoded sound lies on source time. Every reader of a file's sound places it where the
// file's timestamps put it, as the editors that open the timelines do: a gap between two stretches
// of sound (a recorder that dropped packets, clips joined without re-encoding, sound that starts
// after the picture) is silence of its length, and sound given twice for the same time (an
// overlap where clips were joined) is heard once. Counting samples instead would place everything
// after a dropout early by its length. A gap no recording holds — past the file's stated length,
// or longer than any pause — is damage, and is never filled.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::platform {

// The sound jumps where no recording does; the file is damaged there. what() is a clause:
// "its sound jumps from 0:12 to 60:12, past its stated length of 0:33".
class SoundJumpError : public MediaReadError {
 public:
  // `from`: where the sound before the jump ends, when that is known.
  SoundJumpError(std::optional<double> from, double to, std::optional<double> statedLength);
  // Where the sound jumps to, in seconds of source time.
  double to() const { return to_; }

 private:
  double to_;
};

class SoundClock {
 public:
  // Timestamps this close to where the sound before them ends are rounding (Matroska keeps whole
  // milliseconds), not a gap or an overlap: well under a frame at any rate.
  static constexpr double kDriftSeconds = 0.002;
  // A gap longer than this is no pause a recording holds.
  static constexpr double kLongestGapSeconds = 600;
  // Sound may reach a little past the length a container states (a last packet's padding).
  static constexpr double kPastStatedLengthSeconds = 1.0;

  // Positions count samples at `rate` from source time 0. `statedLength`: the file's own length
  // in seconds of source time, when its container states one.
  SoundClock(int rate, std::optional<double> statedLength);

  struct Placement {
    std::int64_t position = 0;  // where the block's first kept sample lies
    std::int64_t skipped = 0;   // samples at the block's start that sound already placed covers
    std::int64_t silence = 0;   // samples of silence between the sound before it and this block
  };

  // Places a block of `count` samples whose first sample's timestamp is `seconds` of source time
  // (none: it follows the sound before it). The first block after construction lies exactly at
  // its timestamp, with silence from position 0; the first after restart() likewise, with no
  // silence (nothing before it is known). Throws SoundJumpError.
  Placement place(std::optional<double> seconds, std::int64_t count);

  // Decoding starts elsewhere (after a seek): the next block is placed by its timestamp alone.
  void restart();

  // Where the sound placed so far ends; none before the first block after a restart.
  std::optional<std::int64_t> end() const { return end_; }

 private:
  void requireReachable(std::optional<double> fromSeconds, double seconds) const;

  int rate_;
  std::optional<double> statedLength_;
  std::optional<std::int64_t> end_ = 0;
};

}  // namespace kestrane::platform
