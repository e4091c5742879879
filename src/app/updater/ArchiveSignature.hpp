#pragma once
// Checks an update archive against the publisher's key before anything of it is unpacked.
// Signatures are libsodium's multi-part Ed25519 (crypto_sign_final_create over the archive
// bytes), so an archive of any size is verified while streaming it from disk.
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrane::updater {

// True only when `signatureBase64` is a valid signature of the file's bytes by the key
// `publicKeyBase64` (32 bytes, base64). Any malformed input gives false.
bool archiveIsSigned(const std::filesystem::path& archive, std::string_view signatureBase64,
                     std::string_view publicKeyBase64);

}  // namespace kestrane::updater
