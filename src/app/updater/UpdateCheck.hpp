#pragma once
// The once-per-launch question to the update feed: is there a newer version to offer?
#include <optional>
#include <string>

#include "app/updater/UpdateFeed.hpp"
#include "app/updater/UpdateTransport.hpp"

namespace kestrane::updater {

// The feed address this build asks, an https URL ending in "/updates/version.json".
std::string feedUrl();
// This build's version ("0" when the build has none).
std::string shortVersion();
// The publisher key this build trusts (base64); empty when the build has none.
std::string publisherKey();

// The update to offer, or nothing: every failure (transport, status other than 200, a body that
// is not a feed, a version that is not newer, an archive address that is not https, an entry
// without a signature) is silent.
std::optional<UpdateInfo> checkForUpdate(const std::string& feedUrl, const std::string& currentVersion,
                                         const TransportOptions& options);

}  // namespace kestrane::updater
