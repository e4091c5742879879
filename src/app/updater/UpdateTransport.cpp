#include "app/updater/UpdateTransport.hpp"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

namespace kestrane::updater {
namespace {

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

Easy makeEasy(const std::string& url, const TransportOptions& options) {
  Easy easy(curl_easy_init(), curl_easy_cleanup);
  if (!easy) throw TransferError("the download didn't complete");
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(options.connectTimeout.count()));
  if (!options.caFile.empty()) curl_easy_setopt(easy.get(), CURLOPT_CAINFO, options.caFile.c_str());
  return easy;
}

struct MemorySink {
  std::string body;
  std::int64_t limit;
};

size_t toMemory(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<MemorySink*>(user);
  size_t bytes = size * count;
  if (static_cast<std::int64_t>(sink->body.size() + bytes) > sink->limit) return 0;  // aborts
  sink->body.append(data, bytes);
  return bytes;
}

struct FileSink {
  std::FILE* file;
  std::int64_t written = 0;
  std::int64_t limit;
  bool tooLarge = false;
};

size_t toFile(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<FileSink*>(user);
  size_t bytes = size * count;
  if (sink->written + static_cast<std::int64_t>(bytes) > sink->limit) {
    sink->tooLarge = true;
    return 0;
  }
  sink->written += static_cast<std::int64_t>(bytes);
  return std::fwrite(data, 1, bytes, sink->file);
}

}  // namespace

std::optional<FeedResponse> fetchFeed(const std::string& url, const TransportOptions& options) {
  try {
    auto easy = makeEasy(url, options);
    MemorySink sink{{}, options.maxFeedBytes};
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Cache-Control: no-cache"), curl_slist_free_all);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(options.feedTimeout.count()));
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, toMemory);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
    if (curl_easy_perform(easy.get()) != CURLE_OK) return std::nullopt;
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return FeedResponse{status, std::move(sink.body)};
  } catch (const TransferError&) {
    return std::nullopt;
  }
}

void downloadArchive(const std::string& url, const std::filesystem::path& destination,
                     const TransportOptions& options) {
  auto easy = makeEasy(url, options);
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(destination.c_str(), "wb"),
                                                          std::fclose);
  if (!file) throw TransferError("the download couldn't be saved");
  FileSink sink{file.get(), 0, options.maxArchiveBytes};
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, toFile);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
  // A stalled transfer ends instead of hanging the install forever.
  curl_easy_setopt(easy.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_LOW_SPEED_TIME, 60L);
  CURLcode result = curl_easy_perform(easy.get());
  long status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  bool flushed = std::fflush(file.get()) == 0;
  file.reset();
  auto fail = [&](const char* message) {
    std::error_code ignored;
    std::filesystem::remove(destination, ignored);
    throw TransferError(message);
  };
  if (sink.tooLarge) fail("the update is larger than Kestrane accepts");
  if (result != CURLE_OK || status != 200 || !flushed) fail("the download didn't complete");
}

}  // namespace kestrane::updater
