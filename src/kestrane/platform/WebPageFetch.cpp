#include "kestrane/platform/WebPageFetch.hpp"

#include <algorithm>
#include <cmath>

#include "kestrane/http/HttpTransfer.hpp"
#include "kestrane/http/UrlParts.hpp"

namespace kestrane::WebPageFetch {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 "
    "Safari/537.36";

// Any scheme is read (a stylesheet link may name file: or gopher:); only get() refuses them.
std::optional<std::string> part(std::string_view url, http::UrlPart which,
                                std::optional<std::string_view> base = std::nullopt) {
  return http::urlPart(url, which, {.lenient = true, .base = base});
}

http::Exchange exchangeFor(std::string_view url, const Options& options) {
  http::Exchange exchange;
  exchange.url = std::string(url);
  exchange.userAgent = kUserAgent;
  exchange.acceptEncodings = true;
  exchange.policy.protocols = "http,https";
  exchange.policy.followRedirects = true;
  exchange.policy.maxRedirects = options.maxRedirects;
  exchange.policy.refusePrivateAddresses = options.refusePrivateAddresses;
  exchange.policy.allowLoopback = options.allowLoopback;
  // A proxy would hide the real address from the address check.
  exchange.policy.bypassProxy = true;
  const double timeout = std::isfinite(options.timeoutSeconds) ? std::clamp(options.timeoutSeconds, 0.1, 600.0) : 12;
  exchange.timeouts.total = std::chrono::milliseconds(static_cast<long>(timeout * 1000));
  exchange.sink.limit = options.maxBytes;
  exchange.sink.overflow = http::Sink::Overflow::Cut;
  return exchange;
}

}  // namespace

bool isWebURL(std::string_view url) {
  const auto scheme = part(url, http::UrlPart::Scheme);
  if (!scheme) return false;
  const auto lowered = http::lowerAscii(*scheme);
  return lowered == "http" || lowered == "https";
}

std::optional<std::string> absoluteURL(std::string_view text) { return part(text, http::UrlPart::Whole); }

std::optional<std::string> resolveURL(std::string_view base, std::string_view reference) {
  return part(reference, http::UrlPart::Whole, base);
}

std::optional<std::string> host(std::string_view url) {
  auto h = part(url, http::UrlPart::Host);
  if (!h || h->empty()) return std::nullopt;
  return http::lowerAscii(std::move(*h));
}

std::optional<std::string> get(std::string_view url, const Options& options, std::stop_token stop) {
  if (!isWebURL(url) || options.maxBytes == 0 || stop.stop_requested()) return std::nullopt;
  auto outcome = http::perform(exchangeFor(url, options), stop);
  if (stop.stop_requested()) return std::nullopt;
  // A body cut at the limit is still a page.
  using End = http::Outcome::End;
  if (outcome.end != End::Complete && outcome.end != End::Overflowed) return std::nullopt;
  if (outcome.status < 200 || outcome.status > 299) return std::nullopt;
  return std::move(outcome.body);
}

}  // namespace kestrane::WebPageFetch
