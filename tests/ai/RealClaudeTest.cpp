// The vendor's real `claude` tool (the pinned version the set-up installs under the build
// folder), pointed at the loopback fake of the messages API: the three argument forms, a
// verdict, prose where a verdict was asked, sign-in and usage-limit failures and a time-out.
// Skipped when the tool is not installed. CTest runs it in a network namespace with only
// loopback up when this machine allows one.
#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ai/AiTestSupport.hpp"
#include "fakes/FakeMessagesApi.hpp"
#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/ai/Verdict.hpp"

namespace kestrane {
namespace {

using ::testing::HasSubstr;

class RealClaude : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("KESTRANE_REAL_CLAUDE");
    if (!path || !std::filesystem::exists(path)) GTEST_SKIP() << "the claude tool is not installed";
    tool_ = path;
    api_.emplace(dir_.path() / "api");
    ::setenv("HOME", (dir_.path() / "home").c_str(), 1);
    std::filesystem::create_directories(dir_.path() / "home");
    ::setenv("ANTHROPIC_API_KEY", "test-key", 1);
    for (const char* quiet : {"CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "DISABLE_TELEMETRY", "DISABLE_AUTOUPDATER",
                              "DISABLE_ERROR_REPORTING"}) {
      ::setenv(quiet, "1", 1);
    }
    ::setenv("CLAUDE_CODE_MAX_RETRIES", "0", 1);
  }

  std::string send(const std::string& scenario, ReplyForm form, ModelTier tier, double timeout = 60) {
    ::setenv("ANTHROPIC_BASE_URL", api_->base(scenario).c_str(), 1);
    ModelCall call;
    call.prompt = "Say something about bread.";
    call.form = form;
    call.tier = tier;
    call.timeoutSeconds = timeout;
    return ModelClient::commandLineBackend(tool_, ModelClient::processEnvironment)->send(call, {});
  }

  ModelError failure(const std::string& scenario, double timeout = 60) {
    try {
      send(scenario, ReplyForm::text, ModelTier::fast, timeout);
    } catch (const ModelError& e) {
      return e;
    }
    ADD_FAILURE() << scenario << " did not fail";
    return ModelError::apiFailed("none");
  }

  test::TempDir dir_;
  std::string tool_;
  std::optional<test::FakeMessagesApi> api_;
};

TEST_F(RealClaude, EachFormGetsItsAnswer) {
  api_->setReply("Bread needs time.");
  EXPECT_EQ(send("ok", ReplyForm::text, ModelTier::fast), "Bread needs time.\n");
  EXPECT_EQ(api_->requests().back()["body"]["model"], "claude-haiku-4-5");
  EXPECT_THAT(send("ok", ReplyForm::text, ModelTier::reasoning), HasSubstr("Bread needs time."));
  EXPECT_THAT(send("ok", ReplyForm::composition, ModelTier::reasoning), HasSubstr("Bread needs time."));
  // The prompt reached the service; nothing of it was on the command line.
  EXPECT_THAT(api_->requests().back()["body"]["messages"].dump(), HasSubstr("Say something about bread."));

  api_->setReply(R"({"cuts":[{"index":3,"category":"offCameraSpeaker","reason":"Crew.","confidence":0.9}]})");
  const auto verdict = Adjudicator::parse(send("ok", ReplyForm::verdict, ModelTier::reasoning));
  ASSERT_EQ(verdict.cuts.size(), 1u);
  EXPECT_EQ(verdict.cuts[0].index, 3);

  // Prose where a verdict was asked ends as an unparseable verdict, never as a cut.
  api_->setReply("I think the cut is fine as it is.");
  EXPECT_THROW(Adjudicator::parse(send("text", ReplyForm::verdict, ModelTier::fast)), Adjudicator::AdjudicationError);
}

TEST_F(RealClaude, FailuresAreToldApart) {
  const ModelError signIn = failure("401");
  EXPECT_EQ(signIn.kind(), ModelError::Kind::notSignedIn) << signIn.what();
  EXPECT_EQ(failure("429").kind(), ModelError::Kind::rateLimited);
  EXPECT_EQ(failure("500").kind(), ModelError::Kind::cliFailed);
  const ModelError slow = failure("slow", 2);
  EXPECT_EQ(slow.kind(), ModelError::Kind::timedOut);
  EXPECT_STREQ(slow.what(), "Claude call timed out after 2s");
}

}  // namespace
}  // namespace kestrane
