#pragma once
// The update feed document: which version is out and where its archive is.
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::updater {

struct UpdateInfo {
  std::string version;
  std::string zip;  // archive address, as the feed gives it
  std::optional<std::string> notes;
  std::optional<std::string> signature;  // base64 Ed25519 signature over the archive bytes
};

// Reads a feed body. Nothing when it is not a JSON object with a text "version" and a "zip" that
// parses as an absolute URL; other keys are ignored.
std::optional<UpdateInfo> parseFeed(std::string_view body);

// The scheme of a URL exactly as written ("https", "HTTPS", ...); empty when there is none.
std::string urlScheme(std::string_view url);

}  // namespace kestrane::updater
