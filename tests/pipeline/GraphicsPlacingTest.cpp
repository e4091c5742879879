#include <gtest/gtest.h>

#include "export/XmlReadBack.hpp"
#include "kestrane/pipeline/GraphicsPlacing.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "platform/MediaFixtures.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

// `kestrane place` re-plans the recorded graphics against the files now in the package.
TEST(GraphicsPlacing, RewritesTheTimelineWithTheGraphicsNowInThePackage) {
  test::StoredPackage stored;
  Pipeline::RecutRequest recut;
  recut.sessionURL = stored.sessionFile;
  recut.settings = KestraneSession::read(stored.sessionFile).settings;
  recut.createMotionGraphics = false;
  Pipeline::recut(recut);

  fs::create_directories(stored.package / "assets");
  kestrane::testing::make(
      "ffmpeg -v error -f lavfi -i color=c=red:s=64x36:r=30:d=2 -c:v prores_ks "
      "-profile:v 4444 -pix_fmt yuva444p10le '" +
      (stored.package / "assets/lower third.mov").string() + "'");
  KestraneSession session = KestraneSession::read(stored.sessionFile);
  GraphicsAsset placed;
  placed.name = "Lower third";
  placed.fileName = "lower third.mov";
  placed.relativePath = "assets/lower third.mov";
  placed.placementSeconds = 1.0;
  placed.durationSeconds = 2.0;
  placed.anchoredToTranscript = true;
  GraphicsAsset escaping = placed;
  escaping.fileName = "elsewhere.mov";
  escaping.relativePath = "../talk.mov";
  session.graphicsAssets = std::vector<GraphicsAsset>{placed, escaping};
  session.write(stored.sessionFile);

  const auto result = Pipeline::placeGraphics(stored.sessionFile);
  EXPECT_EQ(result.fcpxmlURL, stored.package / "talk.fcpxml");
  ASSERT_EQ(result.placements.size(), 1u);
  EXPECT_EQ(result.warnings, (std::vector<std::string>{"Graphic not placed — elsewhere.mov is recorded at ../talk.mov, "
                                                       "which is outside the package."}));

  std::ifstream in(result.fcpxmlURL);
  const readback::File timeline(std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_EQ(timeline.dtdProblems(), "");
  EXPECT_EQ(timeline.attributes("//asset-clip[@videoRole='Graphics']/@lane"), (std::vector<std::string>{"1"}));
  // A 30 fps graphic in a 29.97 fps cut keeps its own speed; the stored off-standard frame
  // duration is made standard again before the timeline is written.
  EXPECT_EQ(timeline.number("count(//asset-clip[@videoRole='Graphics']/conform-rate)"), 1);
  EXPECT_EQ(timeline.number("count(//format[@frameDuration='1001/30000s'])"), 1);
}
