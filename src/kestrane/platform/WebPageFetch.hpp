#pragma once
// Reading a public web page or stylesheet over libcurl: http and https only (redirects too,
// at most a few of them), the body cut at a byte limit while it streams, and, unless asked,
// no connection to this computer or to private or link-local addresses.
#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace kestrane::WebPageFetch {

struct Options {
  double timeoutSeconds = 12;
  std::size_t maxBytes = std::size_t{4} << 20;
  int maxRedirects = 5;
  // Addresses that are not public: loopback, private ranges, link-local, unique-local.
  bool refusePrivateAddresses = true;
  // Loopback alone may be allowed (tests serve their pages there); other private ranges stay
  // refused whenever refusePrivateAddresses is set.
  bool allowLoopback = false;
};

// The body of a 2xx reply, at most maxBytes of it; nothing on any failure, and nothing once
// `stop` is triggered (a transfer under way ends within a fraction of a second).
std::optional<std::string> get(std::string_view url, const Options& options, std::stop_token stop = {});

// True for http and https URLs.
bool isWebURL(std::string_view url);
// An absolute URL, or nothing when the text is none.
std::optional<std::string> absoluteURL(std::string_view text);
// `reference` (absolute or relative) resolved against the absolute URL `base`.
std::optional<std::string> resolveURL(std::string_view base, std::string_view reference);
// The host of an absolute URL, lower-cased; nothing when it has none.
std::optional<std::string> host(std::string_view url);

}  // namespace kestrane::WebPageFetch
