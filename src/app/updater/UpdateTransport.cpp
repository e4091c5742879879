#include "app/updater/UpdateTransport.hpp"

#include <cstdio>
#include <algorithm>
#include <memory>

#include "kestrane/http/HttpTransfer.hpp"

namespace kestrane::updater {
namespace {

// Only https, no redirect followed: a feed can never send the updater elsewhere.
http::Exchange exchangeFor(const std::string& url, const TransportOptions& options, std::int64_t limit) {
  http::Exchange exchange;
  exchange.url = url;
  exchange.policy.protocols = "https";
  exchange.policy.caFile = options.caFile;
  exchange.timeouts.connect = options.connectTimeout;
  exchange.sink.limit = static_cast<std::size_t>(std::max<std::int64_t>(limit, 0));
  return exchange;
}

}  // namespace

std::optional<FeedResponse> fetchFeed(const std::string& url, const TransportOptions& options) {
  auto exchange = exchangeFor(url, options, options.maxFeedBytes);
  exchange.headerLines = {"Cache-Control: no-cache"};
  exchange.timeouts.total = options.feedTimeout;
  auto outcome = http::perform(exchange);
  if (outcome.end != http::Outcome::End::Complete) return std::nullopt;
  return FeedResponse{outcome.status, std::move(outcome.body)};
}

void downloadArchive(const std::string& url, const std::filesystem::path& destination, const TransportOptions& options,
                     std::stop_token stop) {
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(destination.c_str(), "wb"), std::fclose);
  if (!file) throw TransferError("the download couldn't be saved");
  auto exchange = exchangeFor(url, options, options.maxArchiveBytes);
  exchange.sink.file = file.get();
  // A stalled transfer ends instead of hanging the install forever.
  exchange.timeouts.lowSpeedBytes = 1;
  exchange.timeouts.lowSpeedSeconds = 60;
  const auto outcome = http::perform(exchange, stop);
  const bool flushed = std::fflush(file.get()) == 0;
  file.reset();
  auto fail = [&](const char* message) {
    std::error_code ignored;
    std::filesystem::remove(destination, ignored);
    throw TransferError(message);
  };
  using End = http::Outcome::End;
  if (outcome.end == End::Overflowed) fail("the update is larger than Kestrane accepts");
  if (outcome.end == End::Stopped) fail("the download was stopped");
  if (outcome.end != End::Complete || outcome.status != 200 || !flushed) fail("the download didn't complete");
}

}  // namespace kestrane::updater
