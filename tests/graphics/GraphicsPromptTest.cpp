#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kestrane/graphics/GraphicsPrompt.hpp"
#include "kestrane/graphics/VisualIdeasPrompt.hpp"
#include "graphics/GoldenFile.hpp"
#include "graphics/PrivateFonts.hpp"

using namespace kestrane;

namespace {

// The prompts name the fallback family, so they are built over a known set of fonts.
const auto* const kFontsEnv = ::testing::AddGlobalTestEnvironment(new test::PrivateFonts);

VisualIdea overlayIdea() {
  VisualIdea i;
  i.name = "Timeline snaps tight";
  i.type = "callout panel";
  i.device = "timeline assembles, dead clips collapse out";
  i.onScreen = "a timeline of clips";
  i.whyHere = "shows the claim";
  i.generationPrompt = "A row of clips on a dark track; the playhead sweeps and gaps close.";
  i.kind = GraphicKind::alphaOverlay;
  i.placementSeconds = 83.5;
  i.estimatedPlacementSeconds = 80;
  i.durationSeconds = 4.65;
  i.anchorText = "this is the newest way to edit";
  i.matchedText = "This is the newest way to edit";
  i.spokenSeconds = 3.45;
  i.leadInSeconds = 1.2;
  i.placementSource = PlacementSource::anchored;
  return i;
}

VisualIdea fullFrameIdea() {
  VisualIdea i;
  i.name = "Counter climbs";
  i.generationPrompt = "A counter climbs from 100 to 40k while its twin stalls.";
  i.kind = GraphicKind::fullFrame;
  i.placementSeconds = i.estimatedPlacementSeconds = 12.4;
  i.durationSeconds = 5;
  return i;
}

BrandSpec brand() {
  BrandSpec b;
  b.name = "Pelu";
  b.websiteURL = "https://pelu.example";
  b.colors = "#ff5500, #101010 (dark)";
  b.fonts = "Inter";
  b.safeZonesVertical = "  Keep the bottom fifth clear.  ";
  return b;
}

ComponentVocabulary vocabulary() {
  ComponentVocabulary v;
  v.fontFamilies = {"\"Inter\", \"Helvetica Neue\", Helvetica, Arial, -apple-system, sans-serif"};
  v.typeScale = {"96px", "48px"};
  v.colors = {"#FF5500", "#101010"};
  v.eases = {"power3.out"};
  v.staggers = {"0.06"};
  v.components = {".eyebrow", ".panel"};
  v.styleExcerpts = {{"alphaOverlay", ".panel { border-radius: 12px; }"}};
  v.derivedFrom = {"Opening hook"};
  return v;
}

const std::vector<LocalFonts::ResolvedFont> kFonts{{"Inter", "DejaVu Sans", false, std::nullopt}};

}  // namespace

TEST(GraphicsPrompt, AuthoringPromptGoldens) {
  const GraphicsCanvas vertical{1080, 1920, 30};
  const GraphicsCanvas landscape{1920, 1080, 25};
  expectGolden("authoring-overlay-anchored.txt",
               GraphicsPrompt::authoringPrompt(overlayIdea(), brand(), std::nullopt, "Launch", vertical, kFonts,
                                               vocabulary(), false));
  expectGolden("authoring-overlay-reference-with-house-style.txt",
               GraphicsPrompt::authoringPrompt(overlayIdea(), brand(), "  Keep it calm.\n", "Launch", landscape, kFonts,
                                               vocabulary(), true));
  expectGolden("authoring-fullframe-estimated-reference.txt",
               GraphicsPrompt::authoringPrompt(fullFrameIdea(), std::nullopt, " \n ", "Launch", landscape, {},
                                               std::nullopt, true));
  expectGolden("authoring-fullframe-estimated.txt",
               GraphicsPrompt::authoringPrompt(fullFrameIdea(), brand(), std::nullopt, "Launch", vertical, {},
                                               ComponentVocabulary{}, false));
}

TEST(GraphicsPrompt, SectionsAndNumbers) {
  EXPECT_EQ(GraphicsPrompt::durationString(5.0), "5");
  EXPECT_EQ(GraphicsPrompt::durationString(4.25), "4.25");
  EXPECT_EQ(GraphicsPrompt::durationString(3.333), "3.33");
  EXPECT_EQ(GraphicsPrompt::durationString(std::nan("")), "0");

  BrandSpec zonesOnly;
  zonesOnly.safeZonesHorizontal = "Lower band only.";
  EXPECT_TRUE(GraphicsPrompt::brandSection(zonesOnly).ends_with("\n- (no tokens recorded)"));
  const std::string square = GraphicsPrompt::safeZoneRules(GraphicKind::fullFrame, zonesOnly, {1080, 1080, 30});
  EXPECT_TRUE(square.ends_with("(authoritative where it differs from the above):\nLower band only."));
  EXPECT_NE(square.find("- 0-12% (0-129px): TOP DEAD ZONE."), std::string::npos);
  const std::string tall = GraphicsPrompt::safeZoneRules(GraphicKind::alphaOverlay, std::nullopt, {1080, 1920, 30});
  EXPECT_NE(tall.find("- 0-12% (0-230px) and 85-100% (1632px-1920px)"), std::string::npos);
  EXPECT_TRUE(tall.ends_with(BrandSpec::peluVerticalSafeZones));

  const auto minType = [](int h) {
    VisualIdea i;
    i.generationPrompt = "x";
    return GraphicsPrompt::authoringPrompt(i, std::nullopt, std::nullopt, "P", {1920, h, 30}, {}, std::nullopt, false);
  };
  EXPECT_NE(minType(1080).find("at least 49px"), std::string::npos);
  EXPECT_NE(minType(1920).find("at least 87px"), std::string::npos);
  EXPECT_NE(minType(720).find("at least 48px"), std::string::npos);
}

TEST(GraphicsCanvas, FromTheSource) {
  SourceMedia s;
  s.hasVideo = true;
  s.width = 1920;
  s.height = 1080;
  s.frameDuration = {1001, 30000};
  EXPECT_EQ(GraphicsCanvas::forSource(s), (GraphicsCanvas{1920, 1080, 30}));
  s.width = 1080;
  s.height = 1920;
  EXPECT_EQ(GraphicsCanvas::forSource(s), (GraphicsCanvas{1080, 1920, 30}));
  s.height = 1080;
  s.frameDuration = {1, 120};
  EXPECT_EQ(GraphicsCanvas::forSource(s), (GraphicsCanvas{1080, 1080, 60}));
  s.hasVideo = false;
  s.frameDuration = {1, 12};
  EXPECT_EQ(GraphicsCanvas::forSource(s), (GraphicsCanvas{1920, 1080, 12}));
  s.frameDuration = {0, 1};
  EXPECT_EQ(GraphicsCanvas::forSource(s).fps, 60);
}

TEST(VisualIdeasPrompt, CountsFormatAndNotes) {
  const std::string overlays = VisualIdeasPrompt::build("Say \"hi\"", "[00:00] hello there",
                                                        std::string("\n  be bold \n\n"), 1, GraphicsFormat::overlays);
  expectGolden("ideas-request-overlays.txt", overlays);
  const std::string mix = VisualIdeasPrompt::build("P", "T", " \n", 5, GraphicsFormat::mix);
  EXPECT_EQ(mix.find("OWNER NOTES"), std::string::npos);
  EXPECT_NE(mix.find("listing 5-8 moments where a visual would tell the story better — spread evenly"),
            std::string::npos);
  EXPECT_NE(mix.find("- **Type:** your own few words for what this is\n- **Device:**"), std::string::npos);
  EXPECT_NE(VisualIdeasPrompt::build("P", "T", std::nullopt, 4, GraphicsFormat::fullScreen)
                .find("listing 4-7 moments where a visual would tell the story better — spread across"),
            std::string::npos);
  EXPECT_TRUE(mix.ends_with("\n\nTRANSCRIPT:\nT"));
  // The range is counted wide: the largest target does not wrap.
  EXPECT_NE(VisualIdeasPrompt::build("P", "T", std::nullopt, 2147483647, GraphicsFormat::mix)
                .find("listing 2147483647-2147483650 moments"),
            std::string::npos);
}
