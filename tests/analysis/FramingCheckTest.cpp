#include "kestrane/analysis/FramingCheck.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
using namespace kestrane::CutInstruments;

namespace {
CutList keeps(const std::vector<TimeRange>& ranges) {
  CutList cut;
  double at = 0;
  for (const auto& r : ranges) {
    if (r.start > at) cut.segments.push_back({{at, r.start}, SegmentKind::silence, std::nullopt, std::nullopt});
    cut.segments.push_back({r, SegmentKind::keep, std::nullopt, std::nullopt});
    at = r.end;
  }
  return cut;
}
}  // namespace

TEST(FramingCheck, BlackAgainstWhiteTake) {
  kestrane::testing::ScratchFolder dir;
  const std::string path = dir.file("takes.mp4");
  // One second of black, then one second of white: two takes framed as differently as can be.
  kestrane::testing::make(
      "ffmpeg -v error -y -f lavfi -i color=c=black:size=96x54:rate=25:d=1 -f lavfi -i "
      "color=c=white:size=96x54:rate=25:d=1 -filter_complex concat=n=2:v=1:a=0 "
      "-c:v libx264 -g 10 -pix_fmt yuv420p " +
      path);
  const auto source = platform::MediaFile::open(path);

  const auto jump = framingJumps(keeps({{0.0, 0.8}, {1.2, 2.0}}), source);
  ASSERT_EQ(jump.size(), 1u);
  EXPECT_EQ(jump[0].kind, CutFinding::Kind::framingJump);
  EXPECT_EQ(jump[0].range, (TimeRange{0.8, 1.2}));
  EXPECT_NEAR(jump[0].severity, 1.0, 0.03);
  EXPECT_NE(jump[0].detail.find("the picture jumps at the cut at 0:00 (frame difference"), std::string::npos);
  EXPECT_NE(jump[0].detail.find("%) — the takes are framed differently"), std::string::npos);

  // Joins within one take, a single kept segment, and a file that isn't media give nothing.
  EXPECT_TRUE(framingJumps(keeps({{0.0, 0.3}, {0.5, 0.9}, {1.1, 1.4}, {1.6, 1.95}}), source).size() == 1u)
      << "only the black-to-white join jumps";
  EXPECT_TRUE(framingJumps(keeps({{0.0, 2.0}}), source).empty());
  std::ofstream(dir.file("text.mp4")) << "not media";
  EXPECT_TRUE(framingJumps(keeps({{0.0, 0.8}, {1.2, 2.0}}), platform::MediaFile::open(dir.file("text.mp4"))).empty());
  // A stop is heard in the middle of the reading.
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_THROW(framingJumps(keeps({{0.0, 0.8}, {1.2, 2.0}}), source, stopped.get_token()), Cancelled);
}

TEST(FramingCheck, GreysAreComparedInLinearLight) {
  kestrane::testing::ScratchFolder dir;
  // A take, then one a quarter brighter in encoded values: a twentieth of the light.
  auto takes = [&](const std::string& second) {
    const std::string path = dir.file(second + ".mp4");
    kestrane::testing::make(
        "ffmpeg -v error -y -f lavfi -i color=c=black:size=96x54:rate=25:d=1 -f lavfi -i "
        "color=c=" +
        second +
        ":size=96x54:rate=25:d=1 -filter_complex concat=n=2:v=1:a=0 "
        "-c:v libx264 -g 10 -pix_fmt yuv420p " +
        path);
    return framingJumps(keeps({{0.0, 0.8}, {1.2, 2.0}}), platform::MediaFile::open(path));
  };
  EXPECT_TRUE(takes("0x404040").empty());
  // Mid grey holds about a fifth of white's light.
  const auto mid = takes("0x808080");
  ASSERT_EQ(mid.size(), 1u);
  EXPECT_NEAR(mid[0].severity, 0.216, 0.02);
}

TEST(FramingCheck, DifferenceScale) {
  std::array<std::uint8_t, 1024> black{}, white{}, grey{};
  white.fill(255);
  grey.fill(static_cast<std::uint8_t>(255 * 0.12 + 0.5));
  EXPECT_DOUBLE_EQ(frameDifference(black, white), 1.0);
  EXPECT_DOUBLE_EQ(frameDifference(black, black), 0.0);
  EXPECT_GE(frameDifference(black, grey), kFramingJumpThreshold);
}
