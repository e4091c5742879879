#pragma once
// HTTPS transfers of the updater: the feed document and the archive. Only https is spoken and
// redirects are not followed, so a feed can never send the updater elsewhere.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace kestrane::updater {

struct TransportOptions {
  std::chrono::milliseconds feedTimeout{10'000};
  std::chrono::milliseconds connectTimeout{15'000};
  std::int64_t maxFeedBytes = 64 * 1024;
  std::int64_t maxArchiveBytes = std::int64_t{512} * 1024 * 1024;
  std::string caFile;  // extra trusted authority; empty uses the system's store
};

struct FeedResponse {
  long status = 0;
  std::string body;
};

// A transfer that could not complete; the message is a lower-case phrase fit to follow
// "Update didn't finish — ".
class TransferError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fetches the feed, bypassing caches. Nothing on any transport failure (the check is silent).
std::optional<FeedResponse> fetchFeed(const std::string& url, const TransportOptions& options);

// Downloads the archive to `destination`. Throws TransferError when the transfer fails, the
// answer is not 200, the archive is larger than the cap, or `stop` is triggered (a transfer
// under way ends within a fraction of a second); a partial file is removed.
void downloadArchive(const std::string& url, const std::filesystem::path& destination, const TransportOptions& options,
                     std::stop_token stop = {});

}  // namespace kestrane::updater
