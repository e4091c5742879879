// A jump no recording holds is refused before it can fill memory or overflow a position. (Where
// sound is placed otherwise is held against real footage in LevelSamplerTest.)
#include "kestrane/platform/SoundClock.hpp"

#include <gtest/gtest.h>

#include <limits>

using kestrane::platform::SoundClock;
using kestrane::platform::SoundJumpError;

constexpr int kRate = 1000;  // a sample a millisecond keeps the sums readable

TEST(SoundClock, AJumpNoRecordingHoldsIsDamageAndNeverAPosition) {
  SoundClock stated(kRate, 33.0);
  stated.place(0.0, 14000);
  try {
    stated.place(3614.0, 100);
    FAIL() << "a jump of an hour past the stated length was placed";
  } catch (const SoundJumpError& e) {
    EXPECT_STREQ(e.what(), "its sound jumps from 0:14 to 60:14, past its stated length of 0:33");
  }
  // Sound a little past the stated length is a last packet's padding.
  EXPECT_NO_THROW(stated.place(33.5, 10));

  // With no stated length, a gap of hours is no pause.
  SoundClock unstated(kRate, std::nullopt);
  unstated.place(0.0, 14000);
  EXPECT_NO_THROW(unstated.place(300.0, 100));
  try {
    unstated.place(3600.0, 100);
    FAIL() << "a gap of an hour was placed";
  } catch (const SoundJumpError& e) {
    EXPECT_STREQ(e.what(), "its sound jumps from 5:00 to 60:00, a gap no recording holds");
  }
  // Timestamps that are no time at all fail as damage, not as an overflowing position.
  for (const double wild :
       {1e300, -1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    SoundClock clock(192000, std::nullopt);
    clock.restart();
    EXPECT_THROW(clock.place(wild, 100), SoundJumpError) << wild;
  }
}
