#include "kestrane/platform/HttpClient.hpp"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "fakes/FakeMessagesApi.hpp"
#include "pipeline/TestSupport.hpp"

namespace kestrane {
namespace {

using namespace std::chrono_literals;

TEST(HttpClient, SendsOnlyOverHttpsOrToThisComputer) {
  EXPECT_TRUE(HttpClient::isAllowedURL("https://api.example.com/v1/messages"));
  EXPECT_TRUE(HttpClient::isAllowedURL("http://127.0.0.1:8080/v1/messages"));
  EXPECT_TRUE(HttpClient::isAllowedURL("http://127.5.6.7/x"));
  EXPECT_TRUE(HttpClient::isAllowedURL("http://localhost:9/x"));
  EXPECT_TRUE(HttpClient::isAllowedURL("http://[::1]:9/x"));
  EXPECT_FALSE(HttpClient::isAllowedURL("http://api.example.com/v1/messages"));
  EXPECT_FALSE(HttpClient::isAllowedURL("http://127.0.0.1.example.com/x"));
  EXPECT_FALSE(HttpClient::isAllowedURL("http://10.0.0.1/x"));
  EXPECT_FALSE(HttpClient::isAllowedURL("ftp://127.0.0.1/x"));
  EXPECT_FALSE(HttpClient::isAllowedURL("file:///etc/passwd"));
  EXPECT_FALSE(HttpClient::isAllowedURL("api.example.com/v1"));
  HttpClient::Request request;
  request.url = "http://192.0.2.1/v1/messages";
  EXPECT_THROW(HttpClient::send(request), HttpClient::TransportError);
}

TEST(HttpClient, PostsAndReadsRepliesWithoutFollowingRedirects) {
  test::TempDir dir;
  test::FakeMessagesApi api(dir.path());
  api.setReply("hello");
  HttpClient::Request request;
  request.url = api.base("ok") + "/v1/messages";
  request.headers = {{"content-type", "application/json"}, {"x-api-key", "secret"}};
  request.body = R"({"model":"m","max_tokens":5,"messages":[]})";
  auto r = HttpClient::send(request);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(nlohmann::json::parse(r.body)["content"][0]["text"], "hello");
  ASSERT_EQ(api.requests().size(), 1u);
  EXPECT_EQ(api.requests()[0]["headers"]["x-api-key"], "secret");
  EXPECT_EQ(api.requests()[0]["body"]["model"], "m");

  request.url = api.base("429") + "/v1/messages";
  r = HttpClient::send(request);
  EXPECT_EQ(r.status, 429);
  EXPECT_EQ(r.header("Retry-After"), "90");

  request.url = api.base("redirect") + "/v1/messages";
  r = HttpClient::send(request);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(api.requests().size(), 3u);

  // A reply larger than the cap fails instead of growing without bound.
  request.url = api.base("500") + "/v1/messages";
  request.maxReplyBytes = 100;
  EXPECT_THROW(HttpClient::send(request), HttpClient::TransportError);
}

TEST(HttpClient, TimeOutAndStopEndASlowExchange) {
  test::TempDir dir;
  test::FakeMessagesApi api(dir.path());
  HttpClient::Request request;
  request.url = api.base("slow") + "/v1/messages";
  request.timeoutSeconds = 0.3;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(HttpClient::send(request), HttpClient::TransportError);

  request.timeoutSeconds = 30;
  std::stop_source source;
  std::thread stopper([&source] {
    std::this_thread::sleep_for(300ms);
    source.request_stop();
  });
  EXPECT_THROW(HttpClient::send(request, source.get_token()), HttpClient::Stopped);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

}  // namespace
}  // namespace kestrane
