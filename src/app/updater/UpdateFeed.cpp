#include "app/updater/UpdateFeed.hpp"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <memory>

namespace kestrane::updater {
namespace {

bool isAbsoluteUrl(const std::string& text) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
  if (!url) return false;
  // No guessing of a scheme: "example.com/x.zip" is not an address.
  return curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
}

std::optional<std::string> optionalText(const nlohmann::json& doc, const char* key) {
  auto it = doc.find(key);
  if (it == doc.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace

std::optional<UpdateInfo> parseFeed(std::string_view body) {
  auto doc = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return std::nullopt;
  auto version = optionalText(doc, "version");
  auto zip = optionalText(doc, "zip");
  if (!version || !zip || !isAbsoluteUrl(*zip)) return std::nullopt;
  return UpdateInfo{*version, *zip, optionalText(doc, "notes"), optionalText(doc, "signature")};
}

std::string urlScheme(std::string_view url) {
  auto colon = url.find(':');
  if (colon == std::string_view::npos) return {};
  return std::string(url.substr(0, colon));
}

}  // namespace kestrane::updater
