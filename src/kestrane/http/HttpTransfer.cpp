#include "kestrane/http/HttpTransfer.hpp"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

#include "kestrane/http/AddressPolicy.hpp"

namespace kestrane::http {

namespace {

void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Running {
  const Exchange* exchange;
  std::stop_token stop;
  Outcome outcome;
  bool overflowed = false;
};

std::size_t keep(Running& r, const char* data, std::size_t n) {
  if (n == 0) return 0;
  std::size_t kept = n;
  if (r.exchange->sink.file) {
    kept = std::fwrite(data, 1, n, r.exchange->sink.file);
  } else {
    r.outcome.body.append(data, n);
  }
  r.outcome.received += kept;
  return kept;
}

// A return short of `n` ends the transfer.
std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Running*>(user);
  const std::size_t n = size * count;
  const Sink& sink = r.exchange->sink;
  if (sink.overflow == Sink::Overflow::Fail) {
    if (r.outcome.received + n > sink.limit) {
      r.overflowed = true;
      return 0;
    }
    return keep(r, data, n);
  }
  const std::size_t room = sink.limit - r.outcome.received;
  if (n >= room) {
    keep(r, data, room);
    r.overflowed = true;
    return n == room ? n : 0;  // exactly full: the transfer may still end on its own
  }
  return keep(r, data, n);
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& headers = static_cast<Running*>(user)->outcome.headers;
  const std::size_t n = size * count;
  std::string_view line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    headers.clear();  // a new reply (after 100 Continue or a redirect) starts over
    return n;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return n;
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  return n;
}

// libcurl calls this several times a second, also while it waits for a name or a connection.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Running*>(user)->stop.stop_requested() ? 1 : 0;
}

// Called once the address is known, for every connection: a name that resolves somewhere
// private or a redirect cannot dodge the check.
curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  const auto& policy = *static_cast<const Policy*>(user);
  const sockaddr* a = &address->addr;
  if (policy.refusePrivateAddresses && isPrivateAddress(a) && !(policy.allowLoopback && isLoopbackAddress(a))) {
    return CURL_SOCKET_BAD;
  }
  return socket(address->family, address->socktype, address->protocol);
}

using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

bool appendHeaders(HeaderList& list, const std::vector<std::string>& lines) {
  for (const auto& line : lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
  }
  return true;
}

void applyPolicy(CURL* h, const Policy& policy) {
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, policy.protocols.c_str());
  if (policy.followRedirects) {
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, policy.protocols.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, policy.maxRedirects);
  } else {
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  }
  if (policy.refusePrivateAddresses) {
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &policy);
  }
  if (policy.bypassProxy) curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  if (!policy.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, policy.caFile.c_str());
}

void applyTimeouts(CURL* h, const Timeouts& t) {
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(t.total.count()));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.connect.count()));
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, t.lowSpeedBytes);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, t.lowSpeedSeconds);
}

}  // namespace

Outcome perform(const Exchange& exchange, std::stop_token stop) {
  Running running{&exchange, std::move(stop), {}, false};
  Outcome& outcome = running.outcome;
  initialiseOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    outcome.end = Outcome::End::NotStarted;
    return outcome;
  }
  CURL* h = curl.get();
  HeaderList headers(nullptr, curl_slist_free_all);
  if (!appendHeaders(headers, exchange.headerLines)) {
    outcome.end = Outcome::End::NotPrepared;
    return outcome;
  }

  curl_easy_setopt(h, CURLOPT_URL, exchange.url.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  applyPolicy(h, exchange.policy);
  applyTimeouts(h, exchange.timeouts);
  if (exchange.method.empty()) {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, exchange.method.c_str());
  }
  if (exchange.body) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, exchange.body->data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(exchange.body->size()));
  }
  if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  if (!exchange.userAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, exchange.userAgent.c_str());
  if (exchange.acceptEncodings) curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &running);
  if (exchange.collectHeaders) {
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &running);
  }
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &running);

  const CURLcode rc = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &outcome.status);
  if (rc == CURLE_OK) {
    outcome.end = Outcome::End::Complete;
  } else if (rc == CURLE_ABORTED_BY_CALLBACK) {
    outcome.end = Outcome::End::Stopped;
  } else if (rc == CURLE_WRITE_ERROR && running.overflowed) {
    outcome.end = Outcome::End::Overflowed;
  } else {
    outcome.end = Outcome::End::Failed;
    outcome.error = curl_easy_strerror(rc);
  }
  return std::move(outcome);
}

}  // namespace kestrane::http
