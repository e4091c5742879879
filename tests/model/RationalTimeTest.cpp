#include "kestrane/model/RationalTime.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using kestrane::RationalTime;
using Rounding = RationalTime::FrameRounding;

TEST(RationalTime, SnapsToFramesInEveryDirection) {
  const RationalTime fifth{1, 5};
  EXPECT_EQ(RationalTime::snapped(0.5, fifth, Rounding::down), (RationalTime{2, 5}));
  EXPECT_EQ(RationalTime::snapped(0.5, fifth, Rounding::up), (RationalTime{3, 5}));
  EXPECT_EQ(RationalTime::snapped(0.5, fifth, Rounding::nearest), (RationalTime{3, 5}));
  EXPECT_EQ(RationalTime::snapped(-0.5, fifth, Rounding::down), (RationalTime{-3, 5}));
  EXPECT_EQ(RationalTime::snapped(-0.5, fifth, Rounding::nearest), (RationalTime{-3, 5}));
  EXPECT_EQ(RationalTime::snapped(-0.5, fifth, Rounding::up), (RationalTime{-2, 5}));

  const RationalTime ntsc{1001, 30000};
  const auto down = RationalTime::snapped(1.0, ntsc, Rounding::down);
  EXPECT_EQ(down, (RationalTime{29 * 1001, 30000}));
  EXPECT_EQ(down.fcpxmlString(), "29029/30000s");
  EXPECT_EQ(RationalTime::snapped(1.0, ntsc, Rounding::up).fcpxmlString(), "1001/1000s");
  EXPECT_EQ(RationalTime::snapped(1.0, ntsc, Rounding::nearest), (RationalTime{30 * 1001, 30000}));
}

TEST(RationalTime, RefusesSnapsOutsideItsLimits) {
  EXPECT_THROW(RationalTime::snapped(1.0, {0, 25}, Rounding::down), kestrane::RationalTimeError);
  EXPECT_THROW(RationalTime::snapped(std::nan(""), {1, 25}, Rounding::down), kestrane::RationalTimeError);
  EXPECT_THROW(RationalTime::snapped(1e300, {1, 25}, Rounding::down), kestrane::RationalTimeError);
  EXPECT_THROW(RationalTime::snapped(1e17, {1001, 30000}, Rounding::down), kestrane::RationalTimeError);
}

TEST(RationalTime, PrintsReducedFcpxmlText) {
  EXPECT_EQ((RationalTime{1001, 30000}).fcpxmlString(), "1001/30000s");
  EXPECT_EQ((RationalTime{3600, 600}).fcpxmlString(), "6s");
  EXPECT_EQ((RationalTime{48, 24}).fcpxmlString(), "2s");
  EXPECT_EQ((RationalTime{60, 24}).fcpxmlString(), "5/2s");
  EXPECT_EQ((RationalTime{-12, 24}).fcpxmlString(), "-1/2s");
  EXPECT_EQ((RationalTime{0, 30000}).fcpxmlString(), "0s");
  EXPECT_EQ(RationalTime::zero().fcpxmlString(), "0s");
}

TEST(RationalTime, AddsExactlyAcrossTimescales) {
  const auto same = RationalTime{1, 24} + RationalTime{1, 24};
  EXPECT_EQ(same, (RationalTime{2, 24}));
  EXPECT_EQ(same.fcpxmlString(), "1/12s");
  EXPECT_NE((RationalTime{1, 24}), (RationalTime{2, 48}));

  // One NTSC frame plus one 25 fps frame: exact at the common timescale 30000.
  const auto mixed = RationalTime{1001, 30000} + RationalTime{1, 25};
  EXPECT_EQ(mixed, (RationalTime{1001 + 1200, 30000}));
  const auto diff = RationalTime{1, 24} - RationalTime{1, 25};
  EXPECT_EQ(diff, (RationalTime{1, 600}));
  EXPECT_THROW(RationalTime(std::numeric_limits<std::int64_t>::max(), 1) + RationalTime(1, 1),
               kestrane::RationalTimeError);
}

TEST(RationalTime, PicksTheNearestStandardFrameDuration) {
  EXPECT_EQ(RationalTime::standardFrameDuration(29.97), (RationalTime{1001, 30000}));
  EXPECT_EQ(RationalTime::standardFrameDuration(30), (RationalTime{1, 30}));
  EXPECT_EQ(RationalTime::standardFrameDuration(24.5), (RationalTime{1, 24}));  // tie keeps 24
  EXPECT_EQ(RationalTime::standardFrameDuration(55), (RationalTime{1001, 60000}));
  EXPECT_EQ(RationalTime::standardFrameDuration(0), (RationalTime{1001, 24000}));
  EXPECT_EQ(RationalTime::standardFrameDuration(-5), (RationalTime{1001, 24000}));
  EXPECT_EQ(RationalTime::standardFrameDuration(std::nan("")), (RationalTime{1001, 24000}));
  EXPECT_EQ(RationalTime::standardFrameDuration(120), (RationalTime{1, 60}));
}
