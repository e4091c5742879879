#include "kestrane/platform/SoundClock.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::platform {

namespace {

// Beyond this a timestamp is no time at all (and its position would not fit a number).
constexpr double kFarthestSeconds = 1e9;

// The times of a clause, each with the decimals that tell the first two apart.
struct Times {
  explicit Times(double a, double b) : decimals(decimalsToTell(a, b)) {}
  std::string operator()(double seconds) const { return lengthText(seconds, decimals); }
  int decimals;
};

}  // namespace

SoundClock::SoundClock(int rate, std::optional<double> statedLength, HeldLength heldLength)
    : rate_(rate), statedLength_(statedLength), heldLength_(statedLength ? HeldLength{} : std::move(heldLength)) {}

void SoundClock::restart() {
  end_.reset();
  placedAny_ = false;
}

void SoundClock::requireReachable(std::optional<double> fromSeconds, double seconds) {
  // Said only when it is damage: most blocks pass, and the words cost more than the sums.
  const auto jump = [&] {
    if (!fromSeconds) return fmt::format("its sound lies at {}", timeStamp(seconds));
    const Times times(*fromSeconds, seconds);
    return fmt::format("its sound jumps from {} to {}", times(*fromSeconds), times(seconds));
  };
  const auto length = [&](double length) {
    return fromSeconds ? Times(*fromSeconds, seconds)(length) : timeStamp(length);
  };
  // Compared as seconds, before any conversion, so a wild timestamp can't overflow a position.
  if (!(std::abs(seconds) < kFarthestSeconds)) throw SoundJumpError(jump(), seconds);
  const std::optional<double> gap = fromSeconds ? std::optional(seconds - *fromSeconds) : std::nullopt;
  // Sound after its clock went back is damage, not a join's overlap to hear once.
  if (placedAny_ && gap && *gap < -kLongestOverlapSeconds) {
    const Times times(*fromSeconds, seconds);
    throw SoundJumpError(fmt::format("its sound goes back from {} to {} — clips joined without re-timing?",
                                     times(*fromSeconds), times(seconds)),
                         seconds);
  }
  if (statedLength_ && !(seconds <= *statedLength_ + kPastLengthSeconds))
    throw SoundJumpError(fmt::format("{}, past its stated length of {}", jump(), length(*statedLength_)), seconds);
  if (gap && !(*gap <= kLongestGapSeconds)) throw SoundJumpError(jump() + ", a gap no recording holds", seconds);
  // A gap in a file that states no length may put the sound still to come no further past what
  // the file holds than sound may reach past a stated length.
  if (!heldLength_ || !placedAny_ || !gap || !(*gap > kDriftSeconds)) return;
  if (!held_ && gapSeconds_ + *gap > kPastLengthSeconds) held_ = heldLength_();
  if (held_ && seconds + std::max(held_->soundEnd - heardTo_, 0.0) > held_->length + kPastLengthSeconds)
    throw SoundJumpError(fmt::format("{}, past the {} the file holds", jump(), length(held_->length)), seconds);
}

std::int64_t SoundClock::sampleAt(double seconds) const {
  // Only a timestamp judged reachable is ever turned into a position, so this never fails; were
  // it asked of one that isn't, it says so rather than making up a position.
  const double samples = std::round(seconds * rate_);
  if (!(std::abs(samples) < 0x1p62)) throw std::logic_error("a position of sound beyond any number");
  return static_cast<std::int64_t>(samples);
}

SoundClock::Placement SoundClock::place(std::optional<double> seconds, std::int64_t count) {
  Placement placement;
  const std::int64_t end = end_.value_or(0);
  if (!seconds) {
    placement.position = end;
  } else {
    // After a restart nothing before the block is known: only the file's length bounds it.
    requireReachable(end_ ? std::optional(static_cast<double>(end) / rate_) : std::nullopt, *seconds);
    const std::int64_t at = sampleAt(*seconds);
    if (!end_) {
      placement.position = at;
    } else if (!placedAny_ && at >= 0) {
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
        if (placedAny_) gapSeconds_ += static_cast<double>(drift) / rate_;
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
  // Where the sound heard so far would end with no gap in it, from where it was first heard.
  if (!placedAny_) heardTo_ = seconds.value_or(static_cast<double>(end) / rate_);
  heardTo_ += static_cast<double>(count) / rate_;
  placedAny_ = true;
  return placement;
}

}  // namespace kestrane::platform
