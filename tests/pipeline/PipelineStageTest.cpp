#include "kestrane/pipeline/PipelineStage.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

using kestrane::Pipeline::Stage;

TEST(PipelineStage, EqualityIgnoresAnchorAndFractionAndAnchorsMapToRows) {
  EXPECT_NE(Stage::consultingClaudeRetry2, Stage::consultingClaude);
  EXPECT_EQ(Stage::transcribing.at(0.5), Stage::transcribing);
  EXPECT_EQ(Stage::consultingClaudeRetry2.checklistAnchor(), Stage::consultingClaude);
  EXPECT_FALSE(Stage::consultingClaudeRetry3.checklistAnchor().isRetryAnnouncement());

  const Stage made("Checking the cut");
  EXPECT_EQ(made, Stage::reviewingCut);
  EXPECT_EQ(std::hash<Stage>{}(made), std::hash<Stage>{}(Stage::reviewingCut));
  std::unordered_set<Stage> set{Stage::probing, Stage::graphicsAsset("Opening your footage")};
  EXPECT_EQ(set.size(), 1u);

  const Stage graphic = Stage::graphicsAsset("Motion graphics 2 of 5 — Title: rendering");
  EXPECT_TRUE(graphic.isRetryAnnouncement());
  EXPECT_EQ(graphic.checklistAnchor(), Stage::preparingGraphics);
  EXPECT_EQ(Stage::probing.checklistAnchor(), Stage::probing);

  const Stage orphan = Stage::anchored("Something", "No such row");
  const Stage self = orphan.checklistAnchor();
  EXPECT_EQ(self.rawValue, "Something");
  EXPECT_EQ(self.anchorValue, std::optional<std::string>("No such row"));
}
