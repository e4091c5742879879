#include "kestrane/pipeline/PipelineStage.hpp"

namespace kestrane::Pipeline {

namespace {
constexpr const char* kClaude = "Second opinion from Claude";
constexpr const char* kGraphics = "Preparing motion graphics";
}  // namespace

const Stage Stage::probing{"Opening your footage"};
const Stage Stage::detectingSilence{"Measuring the audio"};
const Stage Stage::transcribing{"Transcribing every word"};
const Stage Stage::decidingEdits{"Choosing the best takes"};
const Stage Stage::consultingClaude{kClaude};
const Stage Stage::consultingClaudeRetry2 = Stage::anchored("Second opinion from Claude (retry 2 of 3)", kClaude);
const Stage Stage::consultingClaudeRetry3 = Stage::anchored("Second opinion from Claude (retry 3 of 3)", kClaude);
const Stage Stage::reviewingCut{"Checking the cut"};
const Stage Stage::reviewingCutRetry2 = Stage::anchored("Checking the cut (retry 2 of 3)", "Checking the cut");
const Stage Stage::reviewingCutRetry3 = Stage::anchored("Checking the cut (retry 3 of 3)", "Checking the cut");
const Stage Stage::exporting{"Building your package"};
const Stage Stage::generatingIdeas{"Writing the visual ideas"};
const Stage Stage::preparingGraphics{kGraphics};
const Stage Stage::rendering{"Rendering rough cut"};

const std::vector<Stage>& Stage::allCases() {
  // Built from literals rather than the constants above, so it is safe to call during
  // another file's static initialisation.
  static const std::vector<Stage> cases{
      Stage("Opening your footage"),
      Stage("Measuring the audio"),
      Stage("Transcribing every word"),
      Stage("Choosing the best takes"),
      Stage(kClaude),
      anchored("Second opinion from Claude (retry 2 of 3)", kClaude),
      anchored("Second opinion from Claude (retry 3 of 3)", kClaude),
      Stage("Checking the cut"),
      Stage("Building your package"),
      Stage("Writing the visual ideas"),
      Stage(kGraphics),
      Stage("Rendering rough cut"),
  };
  return cases;
}

Stage Stage::graphicsAsset(std::string label) { return anchored(std::move(label), kGraphics); }

Stage Stage::checklistAnchor() const {
  if (!anchorValue) return *this;
  for (const Stage& row : allCases()) {
    if (row.rawValue == *anchorValue) return row;
  }
  return *this;
}

}  // namespace kestrane::Pipeline
