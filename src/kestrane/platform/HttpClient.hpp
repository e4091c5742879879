#pragma once
// One HTTP exchange through libcurl, for services that hold secrets: HTTPS only (plain HTTP
// only to this computer's loopback address), no redirect followed, the reply capped in size,
// and a stop request ends a transfer under way.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrane::HttpClient {

using Header = std::pair<std::string, std::string>;

struct Request {
  std::string method = "POST";
  std::string url;
  std::vector<Header> headers;
  std::string body;
  double timeoutSeconds = 300;
  std::size_t maxReplyBytes = std::size_t{16} << 20;
};

struct Response {
  long status = 0;
  std::vector<Header> headers;  // of the final reply, names as sent
  std::string body;

  // The first header of that name, compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
};

// The exchange failed before a whole reply arrived (refused address, time-out, reply too
// large, transport error). The message never holds the request's headers or body.
class TransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The reply went past Request::maxReplyBytes; nothing of it is kept.
class ReplyTooLarge : public TransportError {
 public:
  using TransportError::TransportError;
};

// The stop token was triggered while the exchange ran.
class Stopped : public std::runtime_error {
 public:
  Stopped() : std::runtime_error("The request was stopped.") {}
};

// True for https URLs, and for http URLs whose host is a loopback address.
bool isAllowedURL(std::string_view url);

// Throws TransportError or ReplyTooLarge (the URL is refused before anything is sent when isAllowedURL is
// false) or Stopped.
Response send(const Request& request, std::stop_token stop = {});

}  // namespace kestrane::HttpClient
