#include "kestrane/model/PipelineSettings.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "kestrane/model/Timecode.hpp"

using namespace kestrane;

TEST(PipelineSettings, PresetsAndResolvedDefaults) {
  auto s = PipelineSettings::make(-42, 0.8, 0.15, true);
  EXPECT_EQ(s.dedupRepeatedLines, true);
  EXPECT_EQ(s.aiAdjudication, true);
  EXPECT_EQ(s.thoroughness, Thoroughness::balanced);
  s.apply(CutTightness::jumpCut);
  EXPECT_DOUBLE_EQ(s.minSilenceDuration, 0.35);
  EXPECT_DOUBLE_EQ(s.speechPadding, 0.05);
  EXPECT_DOUBLE_EQ(s.silenceThresholdDBFS, -42);
  EXPECT_FALSE(s.embedCaptions.has_value());
  EXPECT_TRUE(s.resolvedEmbedCaptions());
  EXPECT_EQ(s.resolvedSubtitleLength(), TranscriptExporter::SubtitleLength::medium);
  EXPECT_EQ(s.resolvedExportTarget(), ExportTarget::finalCut);
  EXPECT_EQ(s.resolvedGraphicsFormat(), GraphicsFormat::mix);
  EXPECT_EQ(PipelineSettings{}.resolvedThoroughness(), Thoroughness::balanced);

  const auto selectable = selectableThoroughness();
  EXPECT_EQ(std::count(selectable.begin(), selectable.end(), Thoroughness::fast), 0);
  EXPECT_EQ(allCases<Thoroughness>().size(), 4u);
  EXPECT_EQ(fromRawValue<ExportTarget>("Premiere"), std::nullopt);
  EXPECT_EQ(rawValue(TranscriptExporter::SubtitleLength::short_), "short");
  EXPECT_EQ(label(ExportTarget::resolve), "DaVinci Resolve");
}

TEST(PipelineSettings, ConsumersSeeClampedValues) {
  PipelineSettings s;
  for (auto [given, want] : {std::pair{std::optional<int>{}, 3}, {0, 1}, {-5, 1}, {12, 8}, {5, 5}}) {
    s.graphicsConcurrency = given;
    EXPECT_EQ(s.resolvedGraphicsConcurrency(), want);
  }
  s.speechPadding = -0.2;
  s.minSilenceDuration = std::nan("");
  EXPECT_EQ(s.resolvedSpeechPadding(), 0);
  EXPECT_EQ(s.resolvedMinSilenceDuration(), 0);
  EXPECT_DOUBLE_EQ(s.speechPadding, -0.2);  // stored as given

  s.graphicsLimit = 0;
  EXPECT_EQ(s.resolvedGraphicsCount(100, std::nullopt), 1);
  s.graphicsLimit = -3;
  EXPECT_EQ(s.resolvedGraphicsCount(100, std::nullopt), 1);
  s.graphicsLimit = 100;  // whatever the density: its cap bounds only its own estimate
  EXPECT_EQ(s.resolvedGraphicsCount(100, std::nullopt), 100);
  s.graphicsDensity = GraphicsDensity::sparse;
  EXPECT_EQ(s.resolvedGraphicsCount(10, 0), 100);
  s.graphicsDensity.reset();
  s.graphicsLimit.reset();
  EXPECT_EQ(s.resolvedGraphicsCount(300, std::nullopt), assetCount(GraphicsDensity::moderate, 300, {}));
}

TEST(PipelineSettings, AssetCountFollowsDensityRules) {
  // 300 s -> n = 100; moderate: min(min(24, 100), max(3, 27)) = 24.
  EXPECT_EQ(assetCount(GraphicsDensity::moderate, 300, std::nullopt), 24);
  EXPECT_EQ(assetCount(GraphicsDensity::sparse, 300, std::nullopt), 8);
  // Short cut: n = 1, never more than n even below the floor.
  EXPECT_EQ(assetCount(GraphicsDensity::heavy, 2, std::nullopt), 1);
  EXPECT_EQ(assetCount(GraphicsDensity::heavy, std::nan(""), std::nullopt), 1);
  EXPECT_EQ(assetCount(GraphicsDensity::fullyAnimated, 0, 0), 4);  // beats below 1: the floor
  EXPECT_EQ(assetCount(GraphicsDensity::sparse, 0, 10), 2);        // 10 × 0.12 = 1 -> floor 2
  EXPECT_EQ(assetCount(GraphicsDensity::fullyAnimated, 0, 100), 60);
}

TEST(PipelineSettings, TimecodesRoundAsDocumented) {
  using VisualIdeas::preciseTimecode;
  using VisualIdeas::timecode;
  EXPECT_EQ(timecode(75.4), "01:15");
  EXPECT_EQ(timecode(59.5), "01:00");
  EXPECT_EQ(timecode(-3), "00:00");
  EXPECT_EQ(timecode(6000), "100:00");
  EXPECT_EQ(preciseTimecode(75.25), "01:15.3");
  EXPECT_EQ(preciseTimecode(75.0), "01:15");
  EXPECT_EQ(preciseTimecode(74.96), "01:15");
  EXPECT_EQ(preciseTimecode(0.04), "00:00");
  EXPECT_EQ(preciseTimecode(0.05), "00:00.1");
  EXPECT_EQ(preciseTimecode(-2), "00:00");
}
