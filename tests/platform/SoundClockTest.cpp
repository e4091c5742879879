// Where decoded sound is placed: by its timestamps, gaps as silence and overlaps heard once, and
// a jump no recording holds refused before it can fill memory or overflow a position.
#include "kestrane/platform/SoundClock.hpp"

#include <gtest/gtest.h>

#include <limits>

using kestrane::platform::SoundClock;
using kestrane::platform::SoundJumpError;

namespace {

constexpr int kRate = 1000;  // a sample a millisecond keeps the sums readable

struct Placed {
  std::int64_t position, skipped, silence;
  bool operator==(const Placed&) const = default;
};

Placed place(SoundClock& clock, std::optional<double> seconds, std::int64_t count) {
  const SoundClock::Placement p = clock.place(seconds, count);
  return {p.position, p.skipped, p.silence};
}

}  // namespace

TEST(SoundClock, PlacesSoundWhereItsTimestampsPutIt) {
  SoundClock clock(kRate, 33.0);
  // Sound that starts after the picture: silence from the start of the file.
  EXPECT_EQ(place(clock, 0.5, 100), (Placed{500, 0, 500}));
  // Timestamps a millisecond off (Matroska keeps whole milliseconds) are rounding.
  EXPECT_EQ(place(clock, 0.601, 100), (Placed{600, 0, 0}));
  EXPECT_EQ(place(clock, 0.699, 100), (Placed{700, 0, 0}));
  // A dropout of a tenth of a second is silence of its length; what follows keeps its time.
  EXPECT_EQ(place(clock, 0.9, 100), (Placed{900, 0, 100}));
  // Sound given twice for one time (clips joined without re-encoding) is heard once.
  EXPECT_EQ(place(clock, 0.95, 100), (Placed{1000, 50, 0}));
  EXPECT_EQ(place(clock, 0.9, 100), (Placed{1050, 100, 0}));
  EXPECT_EQ(clock.end(), 1050);
  // A block without a timestamp follows the sound before it.
  EXPECT_EQ(place(clock, std::nullopt, 10), (Placed{1050, 0, 0}));

  // After a seek nothing before the block is known: it lies at its timestamp, with no silence.
  clock.restart();
  EXPECT_EQ(clock.end(), std::nullopt);
  EXPECT_EQ(place(clock, 20.0, 100), (Placed{20000, 0, 0}));
  // Sound timed before the file's start has no place on its time.
  SoundClock early(kRate, std::nullopt);
  EXPECT_EQ(place(early, -0.02, 100), (Placed{0, 20, 0}));
  EXPECT_EQ(place(early, 0.08, 100), (Placed{80, 0, 0}));
}

TEST(SoundClock, AJumpNoRecordingHoldsIsDamageAndNeverAPosition) {
  SoundClock stated(kRate, 33.0);
  place(stated, 0, 14000);
  try {
    place(stated, 3614.0, 100);
    FAIL() << "a jump of an hour past the stated length was placed";
  } catch (const SoundJumpError& e) {
    EXPECT_STREQ(e.what(), "its sound jumps from 0:14 to 60:14, past its stated length of 0:33");
  }
  // Sound a little past the stated length is a last packet's padding.
  EXPECT_NO_THROW(place(stated, 33.5, 10));

  // With no stated length, a gap of hours is no pause.
  SoundClock unstated(kRate, std::nullopt);
  place(unstated, 0, 14000);
  EXPECT_NO_THROW(place(unstated, 300, 100));
  try {
    place(unstated, 3600, 100);
    FAIL() << "a gap of an hour was placed";
  } catch (const SoundJumpError& e) {
    EXPECT_STREQ(e.what(), "its sound jumps from 5:00 to 60:00, a gap no recording holds");
  }
  // Timestamps that are no time at all fail as damage, not as an overflowing position.
  for (const double wild :
       {1e300, -1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    SoundClock clock(192000, std::nullopt);
    clock.restart();
    EXPECT_THROW(place(clock, wild, 100), SoundJumpError) << wild;
  }
}
