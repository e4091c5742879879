#include <gtest/gtest.h>

#include <limits>

#include "kestrane/graphics/GraphicsChoices.hpp"

using namespace kestrane;
namespace GC = kestrane::GraphicsChoices;

TEST(GraphicsChoices, CountsFloorsAndCaps) {
  EXPECT_EQ(assetCount(GraphicsDensity::moderate, 600, std::nullopt), 24);
  EXPECT_EQ(GC::uncappedCount(GraphicsDensity::moderate, 600, std::nullopt), 54);
  EXPECT_EQ(assetCount(GraphicsDensity::heavy, 0, 10), 7);
  EXPECT_EQ(assetCount(GraphicsDensity::sparse, 0, 0), 2);
  EXPECT_EQ(assetCount(GraphicsDensity::heavy, 0, -3), 4);
  EXPECT_EQ(assetCount(GraphicsDensity::sparse, 30, std::nullopt), 2);
  EXPECT_EQ(assetCount(GraphicsDensity::moderate, 0, std::nullopt), 1);
  // 7.5 s is 2.5 beats, which rounds up to 3.
  EXPECT_EQ(GC::uncappedCount(GraphicsDensity::fullyAnimated, 7.5, std::nullopt), 3);
  EXPECT_EQ(assetCount(GraphicsDensity::fullyAnimated, 0, 100), 60);
  // Unbounded lengths count as no length at all.
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), 1e300}) {
    const int n = assetCount(GraphicsDensity::heavy, bad, std::nullopt);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 40);
    EXPECT_LE(GC::uncappedCount(GraphicsDensity::heavy, bad, std::nullopt), 1'000'000'000);
  }
}

TEST(GraphicsChoices, CeilingNoteOnlyWhenCapped) {
  EXPECT_EQ(GC::ceilingNote(GraphicsDensity::moderate, 600, std::nullopt),
            "Graphics density \"moderate\" on a 10.0-minute cut works out to 54 visuals; this run "
            "is capped at 24 (each one is a Claude call plus real frame capture). A graphics limit "
            "(--graphics-limit) makes more in one run.");
  EXPECT_NE(GC::ceilingNote(GraphicsDensity::fullyAnimated, 0, 100)->find("\"fully animated\""), std::string::npos);
  EXPECT_FALSE(GC::ceilingNote(GraphicsDensity::sparse, 0, 0));
  EXPECT_FALSE(GC::ceilingNote(GraphicsDensity::heavy, 0, -3));
  EXPECT_FALSE(GC::ceilingNote(GraphicsDensity::sparse, 30, std::nullopt));
}

TEST(GraphicsChoices, FreeTextReadersAndTexts) {
  EXPECT_EQ(GC::parseDensity("Fully-Animated"), GraphicsDensity::fullyAnimated);
  EXPECT_EQ(GC::parseDensity("FULLY_ANIMATED"), GraphicsDensity::fullyAnimated);
  EXPECT_EQ(GC::parseDensity("full"), GraphicsDensity::fullyAnimated);
  EXPECT_EQ(GC::parseDensity("minimal"), GraphicsDensity::sparse);
  EXPECT_EQ(GC::parseDensity("Default"), GraphicsDensity::moderate);
  EXPECT_EQ(GC::parseDensity("lots"), GraphicsDensity::heavy);
  EXPECT_FALSE(GC::parseDensity("extreme"));
  EXPECT_FALSE(GC::parseDensity("\theavy"));
  EXPECT_EQ(GC::parseFormat("Alpha Overlay"), GraphicsFormat::overlays);
  EXPECT_EQ(GC::parseFormat("alpha_overlay"), GraphicsFormat::overlays);
  EXPECT_EQ(GC::parseFormat("ALPHA-OVERLAYS"), GraphicsFormat::overlays);
  EXPECT_EQ(GC::parseFormat("full screen"), GraphicsFormat::fullScreen);
  EXPECT_EQ(GC::parseFormat("full"), GraphicsFormat::fullScreen);
  EXPECT_EQ(GC::parseFormat("both"), GraphicsFormat::mix);
  EXPECT_FALSE(GC::parseFormat("extreme"));

  EXPECT_EQ(GC::cadenceHint(GraphicsDensity::sparse),
            "roughly one visual every 25s of the finished cut, up to 8 in one run");
  EXPECT_EQ(GC::cadenceHint(GraphicsDensity::moderate),
            "roughly one visual every 11s of the finished cut, up to 24 in one run");
  EXPECT_EQ(GC::cadenceHint(GraphicsDensity::heavy),
            "roughly one visual every 5s of the finished cut, up to 40 in one run");
  EXPECT_EQ(GC::cadenceHint(GraphicsDensity::fullyAnimated), "a visual on every line, up to 60 in one run");
  EXPECT_TRUE(GC::allows(GraphicsFormat::mix, GraphicKind::alphaOverlay));
  EXPECT_FALSE(GC::allows(GraphicsFormat::fullScreen, GraphicKind::alphaOverlay));
  EXPECT_FALSE(GC::allows(GraphicsFormat::overlays, GraphicKind::fullFrame));
}
