#include "app/updater/UpdateCheck.hpp"

#include "app/updater/VersionOrder.hpp"

namespace kestrane::updater {

std::string feedUrl() { return "https://" KESTRANE_UPDATE_HOST "/updates/version.json"; }

std::string shortVersion() {
  std::string version = KESTRANE_VERSION;
  return version.empty() ? "0" : version;
}

std::string publisherKey() { return KESTRANE_UPDATE_PUBLIC_KEY; }

std::optional<UpdateInfo> checkForUpdate(const std::string& url, const std::string& currentVersion,
                                         const TransportOptions& options) {
  auto response = fetchFeed(url, options);
  if (!response || response->status != 200) return std::nullopt;
  auto info = parseFeed(response->body);
  if (!info || !isNewer(info->version, currentVersion)) return std::nullopt;
  if (urlScheme(info->zip) != "https") return std::nullopt;
  // An entry without a signature can never pass the install's verification: offering it would
  // only lead the user into a failed install.
  if (!info->signature || info->signature->find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
  return info;
}

}  // namespace kestrane::updater
