#include "kestrane/ai/CompositionAuthor.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ai/AiTestSupport.hpp"
#include "fakes/FakeMessagesApi.hpp"

namespace kestrane {
namespace {

TEST(CompositionAuthor, AsksEachRouteForACompositionAndLeavesNoSessionBehind) {
  test::FakeClaude fake;
  fake.reply("<!doctype html><html></html>\n");
  const auto tool = ModelClient::commandLineBackend(test::fakeClaudePath(), ModelClient::processEnvironment);
  EXPECT_EQ(CompositionAuthor::compose(*tool, "Draw a chart.", {}), "<!doctype html><html></html>\n");
  EXPECT_EQ(fake.args(0),
            (std::vector<std::string>{"-p", "--output-format", "text", "--tools", "", "--no-session-persistence"}));
  EXPECT_EQ(fake.stdinOf(0), "Draw a chart.");

  test::TempDir dir;
  test::FakeMessagesApi api(dir.path() / "api");
  api.setReply("<html></html>");
  const auto http = ModelClient::apiBackend("sk-test-0123456789", api.base("ok"));
  EXPECT_EQ(CompositionAuthor::compose(*http, "Draw a chart.", {}), "<html></html>");
  const auto body = api.requests().at(0)["body"];
  EXPECT_EQ(body["model"], "claude-sonnet-5");
  EXPECT_EQ(body["max_tokens"], 32000);
}

}  // namespace
}  // namespace kestrane
