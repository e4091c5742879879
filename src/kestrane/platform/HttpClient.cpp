#include "kestrane/platform/HttpClient.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

namespace kestrane::HttpClient {

namespace {

void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

struct UrlParts {
  std::string scheme, host;
};

std::optional<UrlParts> parseURL(std::string_view url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
  if (!handle) return std::nullopt;
  const std::string text(url);
  // No guessing of a missing scheme: only absolute URLs are sent anywhere.
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return std::nullopt;
  auto part = [&handle](CURLUPart which) -> std::optional<std::string> {
    char* value = nullptr;
    if (curl_url_get(handle.get(), which, &value, 0) != CURLUE_OK || !value) return std::nullopt;
    std::string out(value);
    curl_free(value);
    return out;
  };
  auto scheme = part(CURLUPART_SCHEME);
  auto host = part(CURLUPART_HOST);
  if (!scheme || !host) return std::nullopt;
  return UrlParts{lower(*scheme), lower(*host)};
}

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "[::1]") return true;
  // 127.0.0.0/8, written as a dotted quad.
  if (!host.starts_with("127.")) return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.') ++dots;
    else if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return dots == 3;
}

bool isLoopbackURL(std::string_view url) {
  const auto parts = parseURL(url);
  return parts && parts->scheme == "http" && isLoopbackHost(parts->host);
}

struct Transfer {
  const Request* request;
  Response response;
  std::stop_token stop;
  bool tooLarge = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (t->response.body.size() + n > t->request->maxReplyBytes) {
    t->tooLarge = true;
    return 0;  // ends the transfer
  }
  t->response.body.append(data, n);
  return n;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  std::string_view line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    t->response.headers.clear();  // a new reply (after 100 Continue, say) starts over
    return n;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return n;
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  t->response.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->stop.stop_requested() ? 1 : 0;
}

}  // namespace

std::optional<std::string> Response::header(std::string_view name) const {
  const std::string wanted = lower(name);
  for (const auto& [key, value] : headers) {
    if (lower(key) == wanted) return value;
  }
  return std::nullopt;
}

bool isAllowedURL(std::string_view url) {
  const auto parts = parseURL(url);
  if (!parts) return false;
  return parts->scheme == "https" || (parts->scheme == "http" && isLoopbackHost(parts->host));
}

Response send(const Request& request, std::stop_token stop) {
  if (!isAllowedURL(request.url)) {
    throw TransportError("refused to send to a URL that is neither HTTPS nor this computer");
  }
  if (stop.stop_requested()) throw Stopped();
  initialiseOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw TransportError("couldn't start an HTTP request");
  CURL* h = curl.get();

  Transfer transfer{&request, {}, stop};
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl_slist_free_all);
  for (const auto& [name, value] : request.headers) {
    const std::string line = name + ": " + value;
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (!grown) throw TransportError("couldn't prepare the HTTP request");
    headers.release();
    headers.reset(grown);
  }
  // libcurl would otherwise add "Expect: 100-continue" to large bodies.
  headers.reset(curl_slist_append(headers.release(), "Expect:"));

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method != "GET" && request.method != "HEAD") {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutSeconds * 1000.0));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  // Plain HTTP only ever goes to this computer, never through a proxy.
  if (isLoopbackURL(request.url)) curl_easy_setopt(h, CURLOPT_NOPROXY, "*");

  const CURLcode rc = curl_easy_perform(h);
  if (rc == CURLE_ABORTED_BY_CALLBACK) throw Stopped();
  if (transfer.tooLarge) {
    throw ReplyTooLarge("the reply was larger than " + std::to_string(request.maxReplyBytes) +
                         " bytes");
  }
  if (rc != CURLE_OK) throw TransportError(std::string("HTTP request failed: ") + curl_easy_strerror(rc));
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &transfer.response.status);
  return std::move(transfer.response);
}

}  // namespace kestrane::HttpClient
