#include "kestrane/http/UrlParts.hpp"

#include <curl/curl.h>

#include <cctype>
#include <memory>

namespace kestrane::http {

std::optional<std::string> urlPart(std::string_view url, UrlPart part, const UrlReading& reading) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
  if (!handle) return std::nullopt;
  const unsigned flags = reading.lenient ? CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE : 0;
  if (reading.base &&
      curl_url_set(handle.get(), CURLUPART_URL, std::string(*reading.base).c_str(), flags) != CURLUE_OK) {
    return std::nullopt;
  }
  if (curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), flags) != CURLUE_OK) {
    return std::nullopt;
  }
  const CURLUPart which = part == UrlPart::Scheme ? CURLUPART_SCHEME
                          : part == UrlPart::Host ? CURLUPART_HOST
                                                  : CURLUPART_URL;
  char* value = nullptr;
  if (curl_url_get(handle.get(), which, &value, 0) != CURLUE_OK || !value) return std::nullopt;
  std::string out(value);
  curl_free(value);
  return out;
}

std::string lowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace kestrane::http
