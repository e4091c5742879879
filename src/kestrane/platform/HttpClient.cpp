#include "kestrane/platform/HttpClient.hpp"

#include <cctype>

#include "kestrane/http/HttpTransfer.hpp"
#include "kestrane/http/UrlParts.hpp"

namespace kestrane::HttpClient {

namespace {

struct UrlParts {
  std::string scheme, host;
};

std::optional<UrlParts> parseURL(std::string_view url) {
  // No guessing of a missing scheme: only absolute URLs are sent anywhere.
  auto scheme = http::urlPart(url, http::UrlPart::Scheme);
  auto host = http::urlPart(url, http::UrlPart::Host);
  if (!scheme || !host) return std::nullopt;
  return UrlParts{http::lowerAscii(std::move(*scheme)), http::lowerAscii(std::move(*host))};
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

http::Exchange exchangeFor(const Request& request) {
  http::Exchange exchange;
  exchange.url = request.url;
  exchange.method = request.method;
  if (request.method != "GET" && request.method != "HEAD") exchange.body = &request.body;
  for (const auto& [name, value] : request.headers) exchange.headerLines.push_back(name + ": " + value);
  // libcurl would otherwise add "Expect: 100-continue" to large bodies.
  exchange.headerLines.emplace_back("Expect:");
  exchange.collectHeaders = true;
  exchange.policy.protocols = "https,http";
  // Plain HTTP only ever goes to this computer, never through a proxy.
  exchange.policy.bypassProxy = isLoopbackURL(request.url);
  exchange.timeouts.total = std::chrono::milliseconds(static_cast<long>(request.timeoutSeconds * 1000.0));
  exchange.sink.limit = request.maxReplyBytes;
  return exchange;
}

}  // namespace

std::optional<std::string> Response::header(std::string_view name) const {
  const std::string wanted = http::lowerAscii(std::string(name));
  for (const auto& [key, value] : headers) {
    if (http::lowerAscii(key) == wanted) return value;
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
  auto outcome = http::perform(exchangeFor(request), stop);
  using End = http::Outcome::End;
  switch (outcome.end) {
    case End::Complete: return Response{outcome.status, std::move(outcome.headers), std::move(outcome.body)};
    case End::Stopped: throw Stopped();
    case End::Overflowed:
      throw ReplyTooLarge("the reply was larger than " + std::to_string(request.maxReplyBytes) + " bytes");
    case End::NotStarted: throw TransportError("couldn't start an HTTP request");
    case End::NotPrepared: throw TransportError("couldn't prepare the HTTP request");
    case End::Failed: break;
  }
  throw TransportError("HTTP request failed: " + outcome.error);
}

}  // namespace kestrane::HttpClient
