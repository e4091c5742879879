#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CutOptions.hpp"
#include "RecutOptions.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "pipeline/TestSupport.hpp"

using namespace kestrane;
using namespace kestrane::cli;
namespace fs = std::filesystem;

TEST(GraphicsOptions, ChoicesReachTheSettings) {
  const CutOptions cut = parseCutOptions({"a.mov", "--ideas", "--graphics-density", "Fully-Animated",
                                          "--graphics-format=alpha overlay", "--graphics-limit", "4"});
  EXPECT_TRUE(cut.graphics.ideas);
  const PipelineSettings s = Pipeline::cutSettings(cut.choices, LevelData{});
  EXPECT_EQ(s.graphicsDensity, GraphicsDensity::fullyAnimated);
  EXPECT_EQ(s.graphicsFormat, GraphicsFormat::overlays);
  EXPECT_EQ(s.graphicsLimit, 4);
  EXPECT_FALSE(Pipeline::cutSettings(parseCutOptions({"a.mov"}).choices, LevelData{}).graphicsDensity);

  for (const auto& bad : {std::vector<std::string>{"a.mov", "--graphics-limit", "0"},
                          {"a.mov", "--graphics-limit", "2.5"},
                          {"a.mov", "--graphics-limit", "1001"},
                          {"a.mov", "--graphics-limit", "2147483647"},
                          {"a.mov", "--graphics-density", "extreme"},
                          {"a.mov", "--graphics-format", "sideways"}}) {
    EXPECT_THROW(parseCutOptions(bad), UsageError) << bad[1] << " " << bad[2];
  }
  // A limit past what one run can make is refused where it enters, with the range it takes.
  try {
    parseRecutOptions({"p", "--graphics-limit", "2147483647"});
    ADD_FAILURE() << "took a limit of 2147483647";
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "--graphics-limit takes a whole number from 1 to 1000 — “2147483647” is not one.");
  }
  EXPECT_EQ(parseCutOptions({"a.mov", "--graphics-limit", "1000"}).choices.graphicsLimit, 1000);

  KestraneSession stored;
  stored.settings.graphicsDensity = GraphicsDensity::heavy;
  stored.settings.graphicsLimit = 3;
  const PipelineSettings kept =
      Pipeline::recutSettings(parseRecutOptions({"p", "--graphics-format", "mix"}).choices, stored);
  EXPECT_EQ(kept.graphicsDensity, GraphicsDensity::heavy);
  EXPECT_EQ(kept.graphicsLimit, 3);
  EXPECT_EQ(kept.graphicsFormat, GraphicsFormat::mix);
}

TEST(GraphicsOptions, BrandFromABrandOrASessionFile) {
  test::TempDir dir;
  const fs::path brand = dir.path() / "brand.json";
  std::ofstream(brand) << R"({"name": "Pelu", "fonts": "Inter", "componentVocabulary": {"colors": []}})";
  EXPECT_THROW(readBrandFile(brand), UsageError);  // a vocabulary must be whole when present
  std::ofstream(brand) << R"({"name": "Pelu", "fonts": "Inter"})";
  EXPECT_EQ(parseCutOptions({"a.mov", "--brand", brand.string()}).graphics.brand->fonts, "Inter");

  KestraneSession session;
  session.source.durationSeconds = 60;
  BrandSpec b;
  b.name = "Earlier";
  b.componentVocabulary = ComponentVocabulary{};
  b.componentVocabulary->colors = {"#FF5500"};
  session.brandSpec = b;
  const fs::path sessionFile = dir.path() / "talk.kestrane.json";
  session.write(sessionFile);
  EXPECT_EQ(readBrandFile(sessionFile), b);

  session.brandSpec.reset();
  session.write(sessionFile);
  EXPECT_THROW(readBrandFile(sessionFile), UsageError);
  EXPECT_THROW(readBrandFile(dir.path() / "missing.json"), UsageError);
  std::ofstream(brand) << "not json";
  EXPECT_THROW(parseRecutOptions({"p", "--brand", brand.string()}), UsageError);
}
