// The AI passes inside a job, through the fake `claude` tool: the second opinion's cut reaches
// the package, the self-review round's finding reaches the notes, retry-ai really asks, and a
// stop during a call ends the job with nothing left running.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ai/AiTestSupport.hpp"
#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "pipeline/StoredSession.hpp"

namespace kestrane {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

using test::fourLines;

Pipeline::Services fakeClaudeServices() {
  Pipeline::Services services;
  services.aiBackend = [] {
    return ModelClient::commandLineBackend(test::fakeClaudePath(), ModelClient::processEnvironment);
  };
  return services;
}

// A re-cut of the stored session that asks the fake tool for a second opinion.
Pipeline::RecutRequest aiRecutOf(const test::StoredPackage& stored, Thoroughness thoroughness) {
  Pipeline::RecutRequest request;
  request.sessionURL = stored.sessionFile;
  request.settings = KestraneSession::read(stored.sessionFile).settings;
  request.settings.aiAdjudication = true;
  request.settings.thoroughness = thoroughness;
  request.services = fakeClaudeServices();
  return request;
}

std::vector<std::string> reasons(const CutList& cut) {
  std::vector<std::string> out;
  for (const Segment& s : cut.segments) out.push_back(s.reason.value_or(""));
  return out;
}

TEST(AiPasses, SecondOpinionAndSelfReviewShapeThePackage) {
  test::FakeClaude fake("pipeline");
  test::StoredPackage stored(fourLines);
  Pipeline::RecutRequest request = aiRecutOf(stored, Thoroughness::balanced);
  std::vector<std::string> stages;
  const Pipeline::Output out =
      Pipeline::recut(request, [&](const Pipeline::Stage& s) { stages.push_back(s.rawValue); });

  EXPECT_FALSE(out.aiAdjudicationSkipped);
  EXPECT_THAT(stages, Contains("Second opinion from Claude"));
  EXPECT_THAT(stages, Contains("Checking the cut"));
  // The first kept line was cut with the model's reason, and the package says so.
  EXPECT_THAT(reasons(*out.session.cutList), Contains("AI: A line to the crew."));
  EXPECT_THAT(test::readFile(out.sessionURL), HasSubstr("AI: A line to the crew."));
  // One self-review round: its finding is a warning, with no stop warning after one round.
  EXPECT_THAT(out.warnings, Contains("Coherence — out of order: The ending comes before the opening."));
  EXPECT_THAT(out.warnings, Not(Contains(HasSubstr("Self-review stopped"))));
  ASSERT_EQ(fake.calls(), 2);
  EXPECT_THAT(fake.stdinOf(0), HasSubstr("OWNER NOTES (editorial directives from the project owner"));
  EXPECT_THAT(fake.stdinOf(1), HasSubstr("THE FINAL CUT, READ BACK IN ORDER"));
  // The round with read-back evidence asks the tool's own (reasoning) model.
  EXPECT_THAT(fake.args(1), Not(Contains("--model")));
}

TEST(AiPasses, RetryAiAsksAgainAndAFailingModelLeavesTheAiCutAsItWas) {
  test::FakeClaude fake("pipeline");
  test::StoredPackage stored(fourLines);
  Pipeline::Output out = Pipeline::retryAdjudication(stored.sessionFile, false, {}, {}, fakeClaudeServices());
  EXPECT_THAT(reasons(*out.session.cutList), Contains("AI: A line to the crew."));
  EXPECT_EQ(fake.calls(), 1);  // the stored thoroughness (fast) has no self-review
  EXPECT_FALSE(out.selfReviewFailure);

  // A tool that fails with a sign-in problem: one attempt, and the package keeps the AI cut it
  // holds, byte for byte; the failure says so.
  fake.scenario("fail");
  fake.reply("Error: OAuth token has expired");
  const auto before = test::snapshot(stored.package);
  try {
    Pipeline::retryAdjudication(stored.sessionFile, false, {}, {}, fakeClaudeServices());
    ADD_FAILURE() << "the retry succeeded without a second opinion";
  } catch (const Pipeline::PipelineError& e) {
    EXPECT_THAT(e.what(), HasSubstr("The AI second opinion couldn't be had, so the package was left exactly as it "
                                    "was — your Claude sign-in has expired"));
  }
  EXPECT_EQ(test::snapshot(stored.package), before);
  EXPECT_EQ(fake.calls(), 2);
}

TEST(AiPasses, ASelfReviewThatFailsAfterTheSecondOpinionKeepsTheAiCut) {
  test::FakeClaude fake("pipeline-review-fails");
  fake.reply("Error: OAuth token has expired");
  test::StoredPackage stored([](KestraneSession& session) {
    fourLines(session);
    session.settings.thoroughness = Thoroughness::balanced;
  });
  const Pipeline::Output out = Pipeline::retryAdjudication(stored.sessionFile, false, {}, {}, fakeClaudeServices());
  EXPECT_EQ(fake.calls(), 2);
  EXPECT_THAT(reasons(*KestraneSession::read(stored.sessionFile).cutList), Contains("AI: A line to the crew."));
  EXPECT_TRUE(out.aiAdjudicationSkipped);
  ASSERT_TRUE(out.selfReviewFailure);
  EXPECT_THAT(*out.selfReviewFailure, HasSubstr("your Claude sign-in has expired"));
  EXPECT_THAT(out.warnings, Contains("Self-review correction skipped — findings kept as review notes instead: " +
                                     *out.selfReviewFailure));
}

TEST(AiPasses, ANoteKeptOnItsLineIsNotSaidToBeCut) {
  // The only rendition of a script line carries a spoken note: the line stays, and the run
  // says so instead of reporting the note as cut from the timeline.
  test::StoredPackage stored([](KestraneSession& session) {
    fourLines(session);
    session.script =
        "Welcome to the show where we bake bread.\nFirst you mix the flour and the water.\n"
        "Then you let the dough rest an hour.";
  });
  auto backend = std::make_shared<test::ScriptedBackend>();
  backend->then([](const ModelCall& call) -> std::string {
    // Kept lines are listed as "[index] start–end | text".
    const auto open = call.prompt.rfind('[', call.prompt.find("| Then you let the dough"));
    const std::string index = call.prompt.substr(open + 1, call.prompt.find(']', open) - open - 1);
    return R"({"cuts":[],"findings":[{"kind":"editorNote","detail":"fix the colour here","index":)" + index + "}]}";
  });
  Pipeline::Services services;
  services.aiBackend = [backend] { return std::shared_ptr<AIBackend>(backend); };
  const Pipeline::Output out = Pipeline::retryAdjudication(stored.sessionFile, false, {}, {}, services);

  ASSERT_EQ(backend->calls.size(), 1u);
  ASSERT_TRUE(out.session.editorNotes);
  EXPECT_EQ(out.session.editorNotes->at(0).note, "fix the colour here");
  EXPECT_THAT(reasons(*out.session.cutList), Not(Contains(HasSubstr("spoken note"))));
  EXPECT_THAT(out.warnings, Contains(HasSubstr("kept it as a note")));
  EXPECT_THAT(out.warnings, Contains("1 spoken note to your editor — left on the timeline, marked "
                                     "inside the source clip"));
  EXPECT_THAT(out.warnings, Not(Contains(HasSubstr("cut from the timeline"))));
}

TEST(AiPasses, StopDuringACallEndsTheJobAndTheTool) {
  test::FakeClaude fake("grandchild");
  test::StoredPackage stored(fourLines);
  std::stop_source source;
  std::thread stopper([&] {
    for (int i = 0; i < 2000 && !std::filesystem::exists(fake.call(0, "grandchild")); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(50ms);
    source.request_stop();
  });
  EXPECT_THROW(Pipeline::retryAdjudication(stored.sessionFile, false, {}, source.get_token(), fakeClaudeServices()),
               Cancelled);
  stopper.join();
  EXPECT_EQ(fake.calls(), 1);  // no further attempt after the stop
  std::ifstream in(fake.call(0, "grandchild"));
  int grandchild = 0;
  in >> grandchild;
  ASSERT_GT(grandchild, 0);
  std::this_thread::sleep_for(100ms);
  const std::string stat = test::readFile("/proc/" + std::to_string(grandchild) + "/stat");
  EXPECT_TRUE(stat.empty() || stat.find(") Z") != std::string::npos) << stat;
}

TEST(AiPasses, AReplyNestedWithoutEndFailsTheOpinionAndTheCutStands) {
  test::FakeClaude fake;
  fake.reply(R"({"type":"result","structured_output":)" + std::string(100000, '[') + std::string(100000, ']') + "}");
  test::StoredPackage stored(fourLines);
  Pipeline::RecutRequest request = aiRecutOf(stored, Thoroughness::fast);
  // Each reading of the clock is ten minutes on: the first attempt runs, and the overall budget
  // is spent before a retry.
  auto clock = std::make_shared<std::chrono::system_clock::time_point>(std::chrono::system_clock::now());
  request.services.now = [clock] { return *clock += std::chrono::minutes(10); };
  const Pipeline::Output out = Pipeline::recut(request, {});

  EXPECT_TRUE(out.aiAdjudicationSkipped);
  EXPECT_THAT(out.warnings, Contains(HasSubstr("AI adjudication skipped — deterministic cut kept: Claude API error: "
                                               "the reply nests deeper than 32 levels")));
  EXPECT_THAT(reasons(*out.session.cutList), Not(Contains(HasSubstr("AI: "))));
  EXPECT_TRUE(std::filesystem::exists(out.sessionURL));
}

}  // namespace
}  // namespace kestrane
