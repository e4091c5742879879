// Where decoded sound is placed: by its timestamps, gaps as silence and small overlaps heard once;
// and what no recording's clock does — a jump past the file's length or longer than any pause, a
// clock that goes back, a timestamp that is no time — refused as damage before it can fill
// memory or overflow a position.
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

// The clause a placement is refused with; empty when it is placed.
std::string refusal(SoundClock& clock, double seconds, std::int64_t count = 100) {
  try {
    clock.place(seconds, count);
    return {};
  } catch (const SoundJumpError& e) {
    return e.what();
  }
}

}  // namespace

TEST(SoundClock, GapsAreSilenceOfTheirLengthAndOverlapsAreHeardOnce) {
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
  // An overlap of up to a second is still a join's.
  EXPECT_EQ(place(clock, 0.1, 1000), (Placed{1060, 960, 0}));

  // After a seek nothing before the block is known: it lies at its timestamp, with no silence.
  clock.restart();
  EXPECT_EQ(clock.end(), std::nullopt);
  EXPECT_EQ(place(clock, 20.0, 100), (Placed{20000, 0, 0}));
  // Sound timed before the file's start has no place on its time.
  SoundClock early(kRate, std::nullopt);
  EXPECT_EQ(place(early, -0.02, 100), (Placed{0, 20, 0}));
  EXPECT_EQ(place(early, 0.08, 100), (Placed{80, 0, 0}));
}

TEST(SoundClock, SoundMayReachASecondPastTheStatedLength) {
  for (const auto& [past, refused] : {std::pair{0.9, false}, std::pair{1.1, true}, std::pair{3600.0, true}}) {
    SoundClock stated(kRate, 33.0);
    stated.place(0.0, 14000);
    EXPECT_EQ(refusal(stated, 33.0 + past).empty(), !refused) << past;
  }
  // The refusal says where, with the decimals that tell its times apart.
  SoundClock stated(kRate, 33.2);
  stated.place(0.0, 34000);
  EXPECT_EQ(refusal(stated, 34.5), "its sound jumps from 0:34.0 to 0:34.5, past its stated length of 0:33.2");
  SoundClock hour(kRate, 33.0);
  hour.place(0.0, 14000);
  EXPECT_EQ(refusal(hour, 3614.0), "its sound jumps from 0:14 to 60:14, past its stated length of 0:33");
  // Sound a little past the stated length is a last packet's padding.
  EXPECT_NO_THROW(hour.place(33.5, 10));
}

TEST(SoundClock, AGapLongerThanAnyPauseIsDamage) {
  // With no stated length, a gap of hours is no pause.
  SoundClock unstated(kRate, std::nullopt);
  unstated.place(0.0, 14000);
  EXPECT_NO_THROW(unstated.place(300.0, 100));
  EXPECT_EQ(refusal(unstated, 3600.0), "its sound jumps from 5:00 to 60:00, a gap no recording holds");
}

TEST(SoundClock, SoundWhoseClockGoesBackIsDamageNotAnOverlap) {
  // Copies joined without re-timing start their clock again at each join.
  SoundClock restarted(kRate, 70.0);
  restarted.place(0.0, 33160);
  EXPECT_EQ(refusal(restarted, 0.0), "its sound goes back from 0:33 to 0:00 — clips joined without re-timing?");
  // A stretch pushed forward, then the sound after it where it belongs.
  SoundClock pushed(kRate, 33.0);
  pushed.place(0.0, 10000);
  pushed.place(15.0, 5000);
  EXPECT_EQ(refusal(pushed, 15.0), "its sound goes back from 0:20 to 0:15 — clips joined without re-timing?");
}

TEST(SoundClock, AFileThatStatesNoLengthHoldsWhatItsPacketsHold) {
  int asked = 0;
  // 33 s of sound and picture; the sound's 31 s of samples end at 0:31 with no gap in them.
  SoundClock clock(kRate, std::nullopt, [&] {
    ++asked;
    return SoundClock::Held{33.0, 31.0};
  });
  clock.place(0.0, 10000);
  // Gaps that add up to less than the slack past a length can't reach past it: nothing is read.
  EXPECT_EQ(place(clock, 10.4, 5000), (Placed{10400, 0, 400}));
  EXPECT_EQ(place(clock, 15.9, 5000), (Placed{15900, 0, 500}));
  EXPECT_EQ(asked, 0);
  // Past them the file's own length bounds where a gap puts the sound still to come (11 s).
  EXPECT_EQ(place(clock, 21.9, 4000), (Placed{21900, 0, 1000}));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(refusal(clock, 27.2), "its sound jumps from 0:25 to 0:27, past the 0:33 the file holds");
  EXPECT_EQ(refusal(clock, 480.0), "its sound jumps from 0:25 to 8:00, past the 0:33 the file holds");
  EXPECT_EQ(asked, 1);
  // Timed to follow on, the sound goes on as far as it goes.
  EXPECT_EQ(place(clock, 26.9, 7000), (Placed{26900, 0, 1000}));
}

TEST(SoundClock, ATimestampThatIsNoTimeIsDamageBeforeItIsAPosition) {
  SoundClock clock(kRate, std::nullopt);
  clock.place(0.0, 14000);
  // 2^63 ms: its position at any rate would not fit a number.
  EXPECT_EQ(refusal(clock, 9223372036854775.807), "its sound jumps from 0:14 to a time beyond any recording");
  for (const double wild :
       {1e300, -1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    SoundClock fast(192000, std::nullopt);
    fast.restart();
    EXPECT_THROW(fast.place(wild, 100), SoundJumpError) << wild;
  }
  SoundClock restarted(192000, std::nullopt);
  restarted.restart();
  EXPECT_EQ(refusal(restarted, -1e300), "its sound lies at a time before any recording");
}
