#pragma once
// Reading URLs the way libcurl will read them when it sends them.
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::http {

enum class UrlPart { Whole, Scheme, Host };

struct UrlReading {
  // Also schemes libcurl does not speak (a page may link file: or gopher:), with stray
  // characters percent-encoded. Off: only absolute URLs in a scheme libcurl speaks.
  bool lenient = false;
  // Resolves the text against this absolute URL first when set.
  std::optional<std::string_view> base;
};

// Nothing when the text is no URL or has no such part.
std::optional<std::string> urlPart(std::string_view url, UrlPart part, const UrlReading& reading = {});

std::string lowerAscii(std::string text);

}  // namespace kestrane::http
