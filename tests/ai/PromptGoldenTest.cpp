// The prompts are frozen: any change to their wording shows up here as a diff against the
// files in tests/ai/golden (regenerate with KESTRANE_UPDATE_GOLDEN=1 after a deliberate change).
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"
#include "kestrane/ai/Adjudicator.hpp"
#include "kestrane/ai/CoherenceReview.hpp"
#include "pipeline/TestSupport.hpp"

namespace kestrane {
namespace {

using testing::utterance;

void expectGolden(const std::string& name, const std::string& text) {
  const auto path = std::filesystem::path(KESTRANE_SOURCE_DIR) / "tests/ai/golden" / name;
  if (std::getenv("KESTRANE_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(text, test::readFile(path)) << name;
}

struct Scene {
  std::vector<TakeSelector::Utterance> kept = {
      utterance(0, "Welcome back, today we bake bread.", 0.5, 3.25),
      utterance(2, "First mix the flour and the water.", 75.5, 79),
      utterance(3, "can you say that again", 80, 81.5),
  };
  Transcript transcript;
  TakeSelector::Decision decision;

  Scene() {
    for (const auto& u : kept) transcript.words.insert(transcript.words.end(), u.words.begin(), u.words.end());
    const auto alt = utterance(1, "First mix the flour and water.", 70, 73);
    transcript.words.insert(transcript.words.begin() + 6, alt.words.begin(), alt.words.end());
    decision.takeGroups = {{4, {75.5, 79}, std::vector<TimeRange>{{70, 73}}}, {5, {90, 91}, std::nullopt}};
    decision.advisories = {{{80, 81.5}, "Possible crew voice"}};
  }
};

TEST(PromptGolden, AdjudicationPromptWithAndWithoutScript) {
  Scene s;
  expectGolden("adjudication-script.txt",
               Adjudicator::buildPrompt(
                   s.kept, s.transcript, s.decision,
                   std::string("\n Welcome back, today we bake bread.\nFirst mix the flour and the water.\n"), 125.25,
                   std::string("  Keep it under a minute.\n")));
  // Blank script and notes leave their blocks out, and the off-script class is unavailable.
  s.decision = {};
  expectGolden("adjudication-plain.txt",
               Adjudicator::buildPrompt(s.kept, s.transcript, s.decision, std::string(" \n"), 60, std::string("\n")));
}

TEST(PromptGolden, CorrectionPromptOneJobAndTwo) {
  Scene s;
  const std::vector<OutputAudit::Defect> defects = {
      {OutputAudit::Defect::Kind::doubledLine, {75.5, 81.5}, "Line said twice.", {2, 3}},
      {OutputAudit::Defect::Kind::missingBeat, {0, 0}, "Missing: the oven.", {}},
  };
  expectGolden("correction-one-job.txt",
               Adjudicator::correctionPrompt(defects, s.kept, std::nullopt, std::string("Tight cut."), std::nullopt));
  CutList cut;
  cut.segments = {{{0.5, 3.25}, SegmentKind::keep},
                  {{3.25, 70}, SegmentKind::silence},
                  {{70, 73}, SegmentKind::retakeRejected},
                  {{73, 75.5}, SegmentKind::silence},
                  {{75.5, 81.5}, SegmentKind::keep}};
  std::vector<TakeSelector::Utterance> all = s.kept;
  all.insert(all.begin() + 1, utterance(1, "First mix the flour and water now.", 70, 73));
  std::vector<TakeSelector::Utterance> sorted = all;
  std::ranges::sort(sorted, {}, [](const auto& u) { return u.range.start; });
  const std::vector<ScriptCoverage::BeatResult> coverage = {
      {"Welcome back, today we bake bread", ScriptCoverage::Status::covered, 0.5, 1},
      {"First mix the flour and the water", ScriptCoverage::Status::partial, 75.5, 0.7},
      {"Then shape the loaf", ScriptCoverage::Status::missing, std::nullopt, 0},
  };
  const auto evidence = CoherenceReview::evidence(sorted, cut, coverage, {});
  ASSERT_TRUE(evidence);
  expectGolden("correction-two-jobs.txt",
               Adjudicator::correctionPrompt({}, s.kept, std::string("Welcome back."), std::nullopt, evidence));
}

}  // namespace
}  // namespace kestrane
