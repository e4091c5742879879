// Numbers that reach a document from a source the reader did not check (a probe, a caller)
// are converted without undefined behaviour: clamped at the edges of the integer's range.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"
#include "kestrane/model/CheckedCast.hpp"
#include "kestrane/model/TimeStamp.hpp"

using namespace kestrane;

TEST(CheckedCast, ClampsAtTheEdgesOfTheRange) {
  using Big = std::numeric_limits<std::int64_t>;
  EXPECT_EQ(clampedInteger<std::int64_t>(48000.9), 48000);
  EXPECT_EQ(clampedInteger<std::int64_t>(-2.5), -2);
  EXPECT_EQ(clampedInteger<std::int64_t>(1e300), Big::max());
  EXPECT_EQ(clampedInteger<std::int64_t>(-1e300), Big::min());
  EXPECT_EQ(clampedInteger<std::int64_t>(9223372036854775808.0), Big::max()) << "2^63 is out";
  EXPECT_EQ(clampedInteger<std::int64_t>(-9223372036854775808.0), Big::min()) << "-2^63 is in";
  EXPECT_EQ(clampedInteger<std::int64_t>(9223372036854774784.0), 9223372036854774784LL);
  EXPECT_EQ(clampedInteger<std::int64_t>(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(clampedInteger<int>(3e9), std::numeric_limits<int>::max());
  EXPECT_EQ(clampedInteger<std::uint32_t>(-1.0), 0u);
  EXPECT_EQ(clampedInteger<std::uint64_t>(1.9e19), std::numeric_limits<std::uint64_t>::max());
}

TEST(CheckedCast, WildSourceNumbersStillMakeDocuments) {
  EXPECT_EQ(timeStamp(1e300), "a time beyond any recording");
  EXPECT_EQ(timeStamp(std::numeric_limits<double>::quiet_NaN()), "no time at all");

  SourceMedia source;
  source.path = "/footage/talk.mov";
  source.durationSeconds = 20;
  source.frameDuration = {1, 25};
  source.width = 1920;
  source.height = 1080;
  source.hasVideo = true;
  source.audioSampleRate = 1e300;
  source.audioChannelCount = 2;
  const CutList cut{{{{0, 20}, SegmentKind::keep, {}, {}}}};
  FCPXMLWriter::Options options;
  options.eventName = "Kestrane";
  options.projectName = "Talk";
  const std::string fcpxml = FCPXMLWriter::fcpxml(source, cut, {}, {}, options);
  EXPECT_NE(fcpxml.find("audioRate=\"9223372036854775807\""), std::string::npos);
  EXPECT_EQ(fcpxml.find("audioRate=\"-"), std::string::npos);
  source.audioSampleRate = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NE(XMEMLWriter::xmeml(source, cut, "Talk", false).find("<samplerate>0</samplerate>"), std::string::npos);
}
