#include "CutOptions.hpp"

#include <gtest/gtest.h>

using namespace kestrane;
using kestrane::cli::parseCutOptions;
using kestrane::cli::UsageError;

TEST(CutOptions, EveryOptionReachesTheSettings) {
  const auto o =
      parseCutOptions({"a.mov", "--script", "s.md", "--name=Launch", "--out", "/tmp/o", "b.mp4", "--tightness",
                       "jumpcut", "--keep-fillers", "--target", "premiere", "--no-captions", "--subtitle-length=short",
                       "--sensitivity", "muchMore", "--silences-only", "--", "--odd.mov"});
  ASSERT_EQ(o.footage.size(), 3u);
  EXPECT_EQ(o.footage[2], "--odd.mov");
  EXPECT_EQ(o.script, std::filesystem::path("s.md"));
  EXPECT_EQ(o.projectName, std::optional<std::string>("Launch"));
  EXPECT_EQ(o.outputDir, std::filesystem::path("/tmp/o"));
  EXPECT_EQ(o.choices.sensitivity, SilenceSensitivity::muchMore);

  Pipeline::CutChoices choices = o.choices;
  choices.thresholdDBFS = -37;
  const PipelineSettings s = Pipeline::cutSettings(choices, LevelData{});
  EXPECT_EQ(s.silenceThresholdDBFS, -37);
  EXPECT_DOUBLE_EQ(s.speechPadding, 0.05);
  EXPECT_DOUBLE_EQ(s.minSilenceDuration, 0.35);
  EXPECT_FALSE(s.removeFillers);
  EXPECT_EQ(s.exportTarget, ExportTarget::premiere);
  EXPECT_EQ(s.embedCaptions, std::optional<bool>(false));
  EXPECT_EQ(s.subtitleLength, TranscriptExporter::SubtitleLength::short_);
  EXPECT_EQ(s.thoroughness, Thoroughness::silencesOnly);
  EXPECT_EQ(s.aiAdjudication, std::optional<bool>(false));
}

TEST(CutOptions, AiChoicesReachTheSettingsAndTheNotes) {
  const auto o = parseCutOptions({"a.mov", "--ai", "--thoroughness", "Meticulous", "--notes", "Keep the jokes."});
  EXPECT_EQ(o.notes, std::optional<std::string>("Keep the jokes."));
  PipelineSettings s = Pipeline::cutSettings(o.choices, LevelData{});
  EXPECT_EQ(s.aiAdjudication, std::optional<bool>(true));
  EXPECT_EQ(s.thoroughness, Thoroughness::meticulous);
  // Cutting silences only takes the place of any thoroughness.
  auto silences = o.choices;
  silences.silencesOnly = true;
  EXPECT_EQ(Pipeline::cutSettings(silences, LevelData{}).thoroughness, Thoroughness::silencesOnly);
}

TEST(CutOptions, DefaultsMatchTheApplication) {
  const auto o = parseCutOptions({"talk.mov"});
  EXPECT_FALSE(o.choices.thresholdDBFS);
  const LevelData levels = LevelData::fromLevels(0.01, std::vector<float>(500, -30.0f));
  const PipelineSettings s = Pipeline::cutSettings(o.choices, levels);
  EXPECT_EQ(s.silenceThresholdDBFS, thresholdDBFS(SilenceSensitivity::automatic, levels.levelsDBFS()));
  EXPECT_DOUBLE_EQ(s.speechPadding, 0.15);
  EXPECT_DOUBLE_EQ(s.minSilenceDuration, 0.8);
  EXPECT_TRUE(s.removeFillers);
  EXPECT_EQ(s.thoroughness, Thoroughness::fast);  // the full cut, without self-review
  EXPECT_EQ(s.aiAdjudication, std::optional<bool>(false));
  EXPECT_EQ(s.resolvedExportTarget(), ExportTarget::finalCut);
  EXPECT_TRUE(s.resolvedEmbedCaptions());
  EXPECT_EQ(s.resolvedSubtitleLength(), TranscriptExporter::SubtitleLength::medium);
  EXPECT_EQ(s.dedupRepeatedLines, std::optional<bool>(true));
  ASSERT_TRUE(s.manualKeepRanges && s.manualRemoveRanges);
  EXPECT_TRUE(s.manualKeepRanges->empty());
}

TEST(CutOptions, BadCommandLinesSayWhatIsWrong) {
  const auto message = [](std::vector<std::string> args) {
    try {
      parseCutOptions(args);
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message({}).find("No footage given"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--tightness", "loose"}).find("relaxed, natural, tight, jumpCut"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--threshold", "-40dB"}).find("not one"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--threshold", "nan"}).find("not one"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--script"}).find("needs a value"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--frobnicate"}).find("Unknown option"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--no-captions=yes"}).find("takes no value"), std::string::npos);
  EXPECT_NE(message({"a.mov", "--thoroughness", "silencesOnly"}).find("fast, balanced, meticulous"), std::string::npos);
  EXPECT_EQ(parseCutOptions({"a.mov", "--threshold", "-42.5"}).choices.thresholdDBFS, -42.5);
  EXPECT_TRUE(parseCutOptions({"--help"}).help);
  // A value forgotten before the next option is not taken for a folder named like an option;
  // written with "=" it is the value asked for.
  for (const auto& args : std::vector<std::vector<std::string>>{{"a.mov", "--out", "--mp4"},
                                                                {"a.mov", "--name", "--ai"},
                                                                {"a.mov", "--script", "-h"},
                                                                {"a.mov", "--out", "--frobnicate"}}) {
    EXPECT_NE(message(args).find("needs a value, but “" + args[2] + "” is an option"), std::string::npos)
        << message(args);
  }
  EXPECT_EQ(parseCutOptions({"a.mov", "--out=--mp4"}).outputDir, std::filesystem::path("--mp4"));
  EXPECT_FALSE(parseCutOptions({"a.mov", "--out=--mp4"}).mp4);
}
