#include "kestrane/ai/AdjudicationBackend.hpp"

#include <gtest/gtest.h>

#include "ai/AiTestSupport.hpp"
#include "kestrane/ai/ModelError.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane {
namespace {

// A fake clock that each attempt and pause moves forward.
struct Timeline {
  double now = 1000;
  std::vector<double> pauses;
  std::vector<std::pair<int, int>> retries;

  void attach(ModelAdjudicationBackend& b) {
    b.clock = [this] { return now; };
    b.sleeper = [this](double s, std::stop_token) {
      pauses.push_back(s);
      now += s;
    };
    b.onRetryAttempt = [this](int n, int of) { retries.emplace_back(n, of); };
  }
};

// A prompt of the given number of words.
std::string words(int n) {
  std::string p;
  for (int i = 0; i < n; ++i) p += "word ";
  return p;
}

TEST(AdjudicationBackend, TimeBudgetScalesWithThePrompt) {
  EXPECT_EQ(ModelAdjudicationBackend::scaledTimeout(999, 300), 300);
  EXPECT_EQ(ModelAdjudicationBackend::scaledTimeout(1000, 300), 360);
  EXPECT_EQ(ModelAdjudicationBackend::scaledTimeout(20000, 300), 900);
  EXPECT_EQ(ModelAdjudicationBackend::scaledTimeout(-5, 300), 300);
}

TEST(AdjudicationBackend, RetriesWithEscalatingLimitsWithinTheOverallBudget) {
  // Every attempt runs into its limit: 420 s, then 630 s, then what is left of 1200 s.
  auto model = std::make_shared<test::ScriptedBackend>();
  Timeline t;
  for (int i = 0; i < 3; ++i) {
    model->then([&t](const ModelCall& call) -> std::string {
      t.now += call.timeoutSeconds;
      throw ModelError::timedOut(call.timeoutSeconds);
    });
  }
  ModelAdjudicationBackend backend(model, 300, ModelTier::reasoning);
  t.attach(backend);
  try {
    backend.complete(words(2500), {});
    FAIL();
  } catch (const ModelError& e) {
    EXPECT_EQ(e.kind(), ModelError::Kind::timedOut);
    EXPECT_DOUBLE_EQ(e.seconds(), 148);
  }
  ASSERT_EQ(model->calls.size(), 3u);
  EXPECT_DOUBLE_EQ(model->calls[0].timeoutSeconds, 420);
  EXPECT_DOUBLE_EQ(model->calls[1].timeoutSeconds, 630);
  EXPECT_DOUBLE_EQ(model->calls[2].timeoutSeconds, 148);
  EXPECT_EQ(model->calls[0].form, ReplyForm::verdict);
  EXPECT_EQ(model->calls[0].maxTokens, 4096);
  EXPECT_EQ(t.pauses, (std::vector<double>{2.0, 5.0}));
  EXPECT_EQ(t.retries, (std::vector<std::pair<int, int>>{{2, 3}, {3, 3}}));

  // A second attempt that answers ends it.
  model = std::make_shared<test::ScriptedBackend>();
  model->then([](const ModelCall&) -> std::string { throw ModelError::cliFailed(1, "boom"); });
  model->reply("{\"cuts\":[]}");
  ModelAdjudicationBackend again(model, 300, ModelTier::fast);
  Timeline t2;
  t2.attach(again);
  EXPECT_EQ(again.complete("short", {}), "{\"cuts\":[]}");
  EXPECT_EQ(t2.retries, (std::vector<std::pair<int, int>>{{2, 3}}));
  EXPECT_EQ(model->calls[1].tier, ModelTier::fast);
}

TEST(AdjudicationBackend, StopsAtOnceWhenRetryingCannotHelp) {
  const std::vector<std::function<std::string(const ModelCall&)>> finals = {
      [](const ModelCall&) -> std::string { throw ModelError::rateLimited(""); },
      [](const ModelCall&) -> std::string { throw ModelError::notSignedIn(); },
      [](const ModelCall&) -> std::string { throw Cancelled(); },
  };
  for (const auto& step : finals) {
    auto model = std::make_shared<test::ScriptedBackend>();
    model->then(step);
    ModelAdjudicationBackend backend(model, 300, ModelTier::reasoning);
    Timeline t;
    t.attach(backend);
    EXPECT_ANY_THROW(backend.complete("p", {}));
    EXPECT_EQ(model->calls.size(), 1u);
    EXPECT_TRUE(t.pauses.empty());
  }

  // Less than a minute of the budget left after a failure: no retry, even after attempt 1.
  auto model = std::make_shared<test::ScriptedBackend>();
  Timeline t;
  model->then([&t](const ModelCall&) -> std::string {
    t.now += 1150;
    throw ModelError::cliFailed(1, "x");
  });
  ModelAdjudicationBackend late(model, 300, ModelTier::reasoning);
  t.attach(late);
  EXPECT_THROW(late.complete("p", {}), ModelError);
  EXPECT_EQ(model->calls.size(), 1u);

  // A clock that has already jumped past the budget: no attempt at all.
  model = std::make_shared<test::ScriptedBackend>();
  ModelAdjudicationBackend jumped(model, 300, ModelTier::reasoning);
  double now = 0;
  jumped.clock = [&now] { return now += 1141; };
  try {
    jumped.complete("p", {});
    FAIL();
  } catch (const ModelError& e) {
    EXPECT_STREQ(e.what(), "Claude call timed out after 300s");
  }
  EXPECT_TRUE(model->calls.empty());

  // A stop during the pause: no further attempt.
  model = std::make_shared<test::ScriptedBackend>();
  model->then([](const ModelCall&) -> std::string { throw ModelError::cliFailed(1, "x"); });
  ModelAdjudicationBackend paused(model, 300, ModelTier::reasoning);
  std::stop_source source;
  paused.sleeper = [&source](double, std::stop_token) { source.request_stop(); };
  EXPECT_THROW(paused.complete("p", source.get_token()), Cancelled);
  EXPECT_EQ(model->calls.size(), 1u);
}

}  // namespace
}  // namespace kestrane
