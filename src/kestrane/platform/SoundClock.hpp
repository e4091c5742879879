#pragma once
// Where decoded sound lies on source time. Every reader of a file's sound places it where the
// file's timestamps put it, as the editors that open the timelines do: a gap between two stretches
// of sound (a recorder that dropped packets, clips joined without re-encoding, sound that starts
// after the picture) is silence of its length, and sound given twice for the same time (an
// overlap where clips were joined) is heard once. Counting samples instead would place everything
// after a dropout early by its length. A gap no recording holds — past the file's length, or
// longer than any pause — is damage, and is never filled; so is sound whose clock goes back by
// more than a join's overlap (clips joined without re-timing, a cluster moved).
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::platform {

// The sound's clock does what no recording's does; the file is damaged there. what() is a
// clause: "its sound jumps from 0:12 to 60:12, past its stated length of 0:33".
class SoundJumpError : public MediaReadError {
 public:
  SoundJumpError(const std::string& clause, double to) : MediaReadError(clause), to_(to) {}
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
  // Sound may reach a little past the file's length (a last packet's padding).
  static constexpr double kPastLengthSeconds = 1.0;
  // Sound given again for longer than this is no join's overlap: its clock went back.
  static constexpr double kLongestOverlapSeconds = 1.0;

  // What a file that states no length holds, in seconds of source time: how long its sound and
  // picture last, and where its sound ends placed from its first timestamp with no gap in it.
  struct Held {
    double length = 0;
    double soundEnd = 0;
  };
  // Learning it reads the file through, so it is asked only once gaps in the sound add up to more
  // than the slack past a length: until then the sound can't reach past it.
  using HeldLength = std::function<Held()>;

  // Positions count samples at `rate` from source time 0. `statedLength`: the file's own length
  // in seconds of source time, when its container states one; else `heldLength`, when given,
  // bounds where a gap may put the sound still to come.
  SoundClock(int rate, std::optional<double> statedLength, HeldLength heldLength = {});

  struct Placement {
    std::int64_t position = 0;  // where the block's first kept sample lies
    std::int64_t skipped = 0;   // samples at the block's start that sound already placed covers
    std::int64_t silence = 0;   // samples of silence between the sound before it and this block
  };

  // Places a block of `count` samples whose first sample's timestamp is `seconds` of source time
  // (none: it follows the sound before it). The first block after construction lies exactly at
  // its timestamp, with silence from position 0; the first after restart() likewise, with no
  // silence (nothing before it is known). Throws SoundJumpError, judged on the timestamp before
  // any position is worked out from it.
  Placement place(std::optional<double> seconds, std::int64_t count);

  // Decoding starts elsewhere (after a seek): the next block is placed by its timestamp alone.
  void restart();

  // Where the sound placed so far ends; none before the first block after a restart.
  std::optional<std::int64_t> end() const { return end_; }

 private:
  void requireReachable(std::optional<double> fromSeconds, double seconds);
  std::int64_t sampleAt(double seconds) const;

  int rate_;
  std::optional<double> statedLength_;
  HeldLength heldLength_;
  std::optional<Held> held_;
  std::optional<std::int64_t> end_ = 0;
  bool placedAny_ = false;  // a block was placed since construction or the last restart
  double gapSeconds_ = 0;   // silence placed between stretches of sound so far
  double heardTo_ = 0;      // where the sound placed so far would end with no gap in it
};

}  // namespace kestrane::platform
