#pragma once
// One transfer through libcurl, set up from a plain description: which schemes and redirects
// are allowed, which addresses may be reached, how long it may take, where the body goes and
// how much of it is accepted, and a stop token that ends it while it runs. The HTTP users of
// the program are small presets over this; it links nothing but libcurl.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace kestrane::http {

struct Policy {
  // The schemes libcurl may speak, as a comma-separated list ("https", "http,https").
  std::string protocols = "https";
  // Off: a redirect is returned as the reply. On: followed, at most maxRedirects times, only to
  // the same schemes.
  bool followRedirects = false;
  long maxRedirects = 0;
  // Checked for every connection once the address is known, redirects included.
  bool refusePrivateAddresses = false;
  bool allowLoopback = false;  // with refusePrivateAddresses: loopback alone is let through
  bool bypassProxy = false;
  std::string caFile;  // an extra trusted authority; empty uses the system's store
};

struct Timeouts {
  std::chrono::milliseconds total{0};    // 0: no limit
  std::chrono::milliseconds connect{0};  // 0: libcurl's own
  // A transfer slower than lowSpeedBytes per second for lowSpeedSeconds ends; 0 turns it off.
  long lowSpeedBytes = 0;
  long lowSpeedSeconds = 0;
};

struct Sink {
  // Fail: a body past the limit ends the transfer as Overflowed. Cut: the first `limit` bytes
  // are kept and a longer body ends the transfer there, also as Overflowed.
  enum class Overflow { Fail, Cut };
  std::size_t limit = std::size_t{16} << 20;
  Overflow overflow = Overflow::Fail;
  std::FILE* file = nullptr;  // the body is written there when set, else kept in memory
};

struct Exchange {
  std::string url;
  std::string method;                    // empty: a plain GET
  const std::string* body = nullptr;     // sent as the request's body when set
  std::vector<std::string> headerLines;  // "Name: value"
  std::string userAgent;
  bool acceptEncodings = false;  // offer every encoding libcurl decodes
  bool collectHeaders = false;
  Policy policy;
  Timeouts timeouts;
  Sink sink;
};

struct Outcome {
  enum class End {
    Complete,
    Stopped,      // the stop token was triggered while the transfer ran
    Overflowed,   // the sink's limit ended the transfer
    Failed,       // any other transport failure; `error` says which
    NotStarted,   // libcurl could not start a transfer
    NotPrepared,  // the request's headers could not be prepared
  };
  End end = End::Failed;
  std::string error;
  long status = 0;
  std::string body;                                          // unless written to a file
  std::vector<std::pair<std::string, std::string>> headers;  // of the final reply, when collected
  std::size_t received = 0;                                  // body bytes kept
};

Outcome perform(const Exchange& exchange, std::stop_token stop = {});

}  // namespace kestrane::http
