#include "kestrane/platform/WebPageFetch.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace kestrane::WebPageFetch {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 "
    "Safari/537.36";

struct Transfer {
  const Options* options;
  std::string body;
  bool cut = false;
  std::stop_token stop;
};

// libcurl calls this several times a second, also while it waits for a name or a connection.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->stop.stop_requested() ? 1 : 0;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  const std::size_t room = t->options->maxBytes - t->body.size();
  if (n >= room) {
    t->body.append(data, room);
    t->cut = true;
    return n == room ? n : 0;  // 0 ends the transfer once the limit is reached
  }
  t->body.append(data, n);
  return n;
}

bool isLoopback(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    const uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr);
    return (ip >> 24) == 127;
  }
  if (a->sa_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&ip6)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&ip6)) return ip6.s6_addr[12] == 127;
  }
  return false;
}

bool isPrivateV4(uint32_t ip) {
  const uint32_t a = ip >> 24;
  const uint32_t b = (ip >> 16) & 0xFF;
  return a == 0 || a == 10 || a == 127 || (a == 169 && b == 254) || (a == 172 && b >= 16 && b < 32) ||
         (a == 192 && b == 168) || (a == 100 && b >= 64 && b < 128) || a >= 224;
}

bool isPrivate(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    return isPrivateV4(ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr));
  }
  if (a->sa_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&ip6)) {
      uint32_t v4;
      std::memcpy(&v4, &ip6.s6_addr[12], 4);
      return isPrivateV4(ntohl(v4));
    }
    const uint8_t first = ip6.s6_addr[0];
    return IN6_IS_ADDR_LOOPBACK(&ip6) || IN6_IS_ADDR_UNSPECIFIED(&ip6) || IN6_IS_ADDR_LINKLOCAL(&ip6) ||
           IN6_IS_ADDR_MULTICAST(&ip6) || (first & 0xFE) == 0xFC;
  }
  return true;  // anything that is not IP is not a web server
}

// Called for every connection, redirects included, once the address is known: the check
// cannot be dodged by a name that resolves somewhere private or by a redirect.
curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  const auto* options = static_cast<const Options*>(user);
  const sockaddr* a = &address->addr;
  if (options->refusePrivateAddresses && isPrivate(a) && !(options->allowLoopback && isLoopback(a))) {
    return CURL_SOCKET_BAD;
  }
  return socket(address->family, address->socktype, address->protocol);
}

void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

namespace {

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// Any scheme is parsed (a stylesheet link may name file: or gopher:); only get() refuses them.
UrlHandle parsed(std::string_view text, const std::optional<std::string_view>& base = std::nullopt) {
  UrlHandle handle(curl_url(), curl_url_cleanup);
  if (!handle) return handle;
  constexpr unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE;
  if (base && curl_url_set(handle.get(), CURLUPART_URL, std::string(*base).c_str(), flags) != CURLUE_OK) {
    handle.reset();
    return handle;
  }
  if (curl_url_set(handle.get(), CURLUPART_URL, std::string(text).c_str(), flags) != CURLUE_OK) {
    handle.reset();
  }
  return handle;
}

std::optional<std::string> part(const UrlHandle& handle, CURLUPart which) {
  if (!handle) return std::nullopt;
  char* value = nullptr;
  if (curl_url_get(handle.get(), which, &value, 0) != CURLUE_OK || !value) return std::nullopt;
  std::string out(value);
  curl_free(value);
  return out;
}

std::string lowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool isWebURL(std::string_view url) {
  const auto scheme = part(parsed(url), CURLUPART_SCHEME);
  return scheme && (lowerAscii(*scheme) == "http" || lowerAscii(*scheme) == "https");
}

std::optional<std::string> absoluteURL(std::string_view text) { return part(parsed(text), CURLUPART_URL); }

std::optional<std::string> resolveURL(std::string_view base, std::string_view reference) {
  return part(parsed(reference, base), CURLUPART_URL);
}

std::optional<std::string> host(std::string_view url) {
  auto h = part(parsed(url), CURLUPART_HOST);
  if (!h || h->empty()) return std::nullopt;
  return lowerAscii(std::move(*h));
}

std::optional<std::string> get(std::string_view url, const Options& options, std::stop_token stop) {
  if (!isWebURL(url) || options.maxBytes == 0 || stop.stop_requested()) return std::nullopt;
  initialiseOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return std::nullopt;
  CURL* h = curl.get();
  const std::string target(url);
  Transfer transfer{&options, {}, false, stop};
  const double timeout = std::isfinite(options.timeoutSeconds) ? std::clamp(options.timeoutSeconds, 0.1, 600.0) : 12;

  curl_easy_setopt(h, CURLOPT_URL, target.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(options.maxRedirects));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout * 1000));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &options);
  // A proxy would hide the real address from the check above.
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");

  const CURLcode rc = curl_easy_perform(h);
  if (stop.stop_requested()) return std::nullopt;
  if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && transfer.cut)) return std::nullopt;
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return std::nullopt;
  return std::move(transfer.body);
}

}  // namespace kestrane::WebPageFetch
