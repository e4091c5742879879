// The transfer core against a loopback site: the sink's limit at its edges in memory and on
// disk, the scheme, redirect and address policies, the stop, and the address classes.
#include "kestrane/http/HttpTransfer.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "fakes/FakeBrandSite.hpp"
#include "kestrane/http/AddressPolicy.hpp"

namespace kestrane::http {
namespace {
namespace fs = std::filesystem;
using End = Outcome::End;

class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root);
    std::ofstream(root / "page.txt", std::ios::binary) << page;
    site = std::make_unique<test::FakeBrandSite>(root, fs::temp_directory_path() / "work");
  }
  Exchange plain(const std::string& path) const {
    Exchange exchange;
    exchange.url = site->url(path);
    exchange.policy.protocols = "http";
    exchange.policy.bypassProxy = true;
    return exchange;
  }

  const fs::path root = fs::temp_directory_path() / "site";
  const std::string page = std::string(1000, 'a') + "end";
  std::unique_ptr<test::FakeBrandSite> site;
};

TEST_F(HttpTransferTest, TheSinkKeepsABodyUpToItsLimitAndNoMore) {
  auto exchange = plain("/page.txt");
  exchange.sink.limit = page.size();
  auto outcome = perform(exchange);
  EXPECT_EQ(outcome.end, End::Complete);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.body, page);

  exchange.sink.limit = page.size() - 1;
  EXPECT_EQ(perform(exchange).end, End::Overflowed);

  // Cut keeps the first bytes; a body that fits exactly is whole, not cut.
  exchange.sink.overflow = Sink::Overflow::Cut;
  outcome = perform(exchange);
  EXPECT_EQ(outcome.end, End::Overflowed);
  EXPECT_EQ(outcome.body, page.substr(0, page.size() - 1));
  exchange.sink.limit = page.size();
  outcome = perform(exchange);
  EXPECT_EQ(outcome.end, End::Complete);
  EXPECT_EQ(outcome.body, page);

  // On disk: the bytes go to the file, none stay in memory.
  const auto saved = fs::temp_directory_path() / "saved.txt";
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(saved.c_str(), "wb"), std::fclose);
  exchange.sink = {page.size(), Sink::Overflow::Fail, file.get()};
  outcome = perform(exchange);
  file.reset();
  EXPECT_EQ(outcome.end, End::Complete);
  EXPECT_TRUE(outcome.body.empty());
  EXPECT_EQ(outcome.received, page.size());
  std::ifstream in(saved, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), page);
}

TEST_F(HttpTransferTest, SchemesRedirectsAndAddressesFollowThePolicy) {
  // A scheme outside the list is never spoken.
  auto exchange = plain("/page.txt");
  exchange.policy.protocols = "https";
  EXPECT_EQ(perform(exchange).end, End::Failed);

  // Unfollowed, a redirect is the reply; followed, the final reply's headers alone are kept.
  exchange = plain("/redirect?to=/page.txt");
  exchange.collectHeaders = true;
  auto outcome = perform(exchange);
  EXPECT_EQ(outcome.status, 302);
  auto named = [&outcome](const std::string& name) {
    return std::ranges::count_if(outcome.headers, [&name](const auto& h) { return h.first == name; });
  };
  EXPECT_EQ(named("Location"), 1);
  exchange.policy.followRedirects = true;
  exchange.policy.maxRedirects = 2;
  outcome = perform(exchange);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.body, page);
  EXPECT_EQ(named("Location"), 0);
  EXPECT_EQ(named("Content-Length"), 1);
  EXPECT_EQ(perform(plain("/loop")).status, 302);
  exchange.url = site->url("/loop");
  EXPECT_EQ(perform(exchange).end, End::Failed);

  // Private addresses are refused before a connection; loopback only when let through.
  site->clearLog();
  exchange = plain("/page.txt");
  exchange.policy.refusePrivateAddresses = true;
  EXPECT_EQ(perform(exchange).end, End::Failed);
  EXPECT_TRUE(site->requests().empty());
  exchange.policy.allowLoopback = true;
  EXPECT_EQ(perform(exchange).body, page);
}

TEST_F(HttpTransferTest, AStopEndsATransferThatIsWaitingForItsReply) {
  std::stop_source stop;
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.request_stop();
  });
  const auto outcome = perform(plain("/slow"), stop.get_token());
  stopper.join();
  EXPECT_EQ(outcome.end, End::Stopped);
  EXPECT_TRUE(outcome.body.empty());
}

sockaddr_storage address(const char* text) {
  sockaddr_storage out{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
  if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
  } else {
    ADD_FAILURE() << text;
  }
  return out;
}

TEST(AddressPolicy, PrivateAndLoopbackRangesEndExactlyAtTheirEdges) {
  for (const char* text : {"0.1.2.3", "10.0.0.1", "127.5.5.5", "169.254.1.1", "172.16.0.1", "172.31.255.255",
                           "192.168.1.1", "100.64.0.1", "100.127.255.255", "224.0.0.1", "255.255.255.255", "::1",
                           "::", "fe80::1", "ff02::1", "fc00::1", "fdff::1", "::ffff:10.1.2.3", "::ffff:192.168.0.1"}) {
    const auto a = address(text);
    EXPECT_TRUE(isPrivateAddress(reinterpret_cast<const sockaddr*>(&a))) << text;
  }
  for (const char* text :
       {"1.1.1.1", "9.255.255.255", "11.0.0.0", "172.15.255.255", "172.32.0.0", "169.253.1.1", "192.167.1.1",
        "100.63.255.255", "100.128.0.0", "223.255.255.255", "2001:4860::8888", "fe00::1", "::ffff:8.8.8.8"}) {
    const auto a = address(text);
    EXPECT_FALSE(isPrivateAddress(reinterpret_cast<const sockaddr*>(&a))) << text;
  }
  for (const char* text : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"}) {
    const auto a = address(text);
    EXPECT_TRUE(isLoopbackAddress(reinterpret_cast<const sockaddr*>(&a))) << text;
  }
  for (const char* text : {"128.0.0.1", "10.0.0.1", "::2", "::ffff:126.0.0.1", "fe80::1"}) {
    const auto a = address(text);
    EXPECT_FALSE(isLoopbackAddress(reinterpret_cast<const sockaddr*>(&a))) << text;
  }
  sockaddr other{};
  other.sa_family = AF_UNIX;
  EXPECT_TRUE(isPrivateAddress(&other));
}

}  // namespace
}  // namespace kestrane::http
