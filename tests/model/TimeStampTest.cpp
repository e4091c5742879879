// Times as notes and reasons print them: whole seconds, the decimals that tell two apart, and
// words for a time no recording reaches.
#include "kestrane/model/TimeStamp.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace kestrane;

TEST(TimeStamp, TimesPrintAsTimes) {
  EXPECT_EQ(timeStamp(75.9), "1:15");
  EXPECT_EQ(timeStamp(-75.9), "-1:15");
  EXPECT_EQ(timeStamp(-0.5), "0:00");
  EXPECT_EQ(timeStamp(3614.0), "60:14");
  EXPECT_EQ(lengthText(-2.25, 2), "-0:02.25");
  EXPECT_EQ(lengthText(-0.0004, 3), "0:00.000");
  // Two times a second's truncation reads alike are told apart.
  EXPECT_EQ(decimalsToTell(34.05, 34.95), 1);
  EXPECT_EQ(lengthText(34.05, 1), "0:34.0");

  // A wild timestamp (2^63 ms either way) is no time to print as minutes.
  EXPECT_EQ(timeStamp(9223372036854775.807), "a time beyond any recording");
  EXPECT_EQ(timeStamp(-9223372036854775.808), "a time before any recording");
  EXPECT_EQ(lengthText(std::numeric_limits<double>::infinity(), 2), "a time beyond any recording");
  EXPECT_EQ(timeStamp(std::numeric_limits<double>::quiet_NaN()), "no time at all");
  // Ten years is still a time.
  EXPECT_EQ(timeStamp(315360000), "5256000:00");
}
