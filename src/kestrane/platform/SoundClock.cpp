#include "kestrane/platform/SoundClock.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::platform {

namespace {

std::string jumpClause(std::optional<double> from, double to, std::optional<double> statedLength) {
  const std::string jump = from ? fmt::format("its sound jumps from {} to {}", timeStamp(*from), timeStamp(to))
                                : fmt::format("its sound lies at {}", timeStamp(to));
  if (statedLength && to > *statedLength)
    return fmt::format("{}, past its stated length of {}", jump, timeStamp(*statedLength));
  return jump + ", a gap no recording holds";
}

// Beyond this a timestamp is no time at all (and its position would not fit a number).
constexpr double kFarthestSeconds = 1e9;

}  // namespace

SoundJumpError::SoundJumpError(std::optional<double> from, double to, std::optional<double> statedLength)
    : MediaReadError(jumpClause(from, to, statedLength)), to_(to) {}

SoundClock::SoundClock(int rate, std::optional<double> statedLength) : rate_(rate), statedLength_(statedLength) {}

void SoundClock::restart() { end_.reset(); }

void SoundClock::requireReachable(std::optional<double> fromSeconds, double seconds) const {
  // Compared as seconds, before any conversion, so a wild timestamp can't overflow a position.
  const bool pastLength = statedLength_ && !(seconds <= *statedLength_ + kPastStatedLengthSeconds);
  const bool tooLong = fromSeconds && !(seconds - *fromSeconds <= kLongestGapSeconds);
  if (pastLength || tooLong || !(std::abs(seconds) < kFarthestSeconds))
    throw SoundJumpError(fromSeconds, seconds, statedLength_);
}

SoundClock::Placement SoundClock::place(std::optional<double> seconds, std::int64_t count) {
  Placement placement;
  const std::int64_t end = end_.value_or(0);
  if (!seconds) {
    placement.position = end;
  } else {
    // After a restart nothing before the block is known: only the stated length bounds it.
    requireReachable(end_ ? std::optional(static_cast<double>(end) / rate_) : std::nullopt, *seconds);
    const auto at = static_cast<std::int64_t>(std::llround(*seconds * rate_));
    if (!end_) {
      placement.position = at;
    } else if (end == 0 && at >= 0) {
      // The first block lies exactly at its timestamp: sound that starts after the picture.
      placement.position = at;
      placement.silence = at;
    } else {
      const std::int64_t drift = at - end;
      const auto tolerance = static_cast<std::int64_t>(kDriftSeconds * rate_);
      placement.position = end;
      if (drift > tolerance) {
        placement.position = at;
        placement.silence = drift;
      } else if (drift < -tolerance || at < 0) {
        placement.skipped = std::min(std::max(end - at, std::int64_t{0}), count);
      }
    }
  }
  if (placement.position < 0) {
    // Sound before the file's start has no place on its time.
    placement.skipped = std::min(-placement.position, count);
    placement.position = 0;
  }
  end_ = std::max(end_.value_or(0), placement.position + (count - placement.skipped));
  return placement;
}

}  // namespace kestrane::platform
