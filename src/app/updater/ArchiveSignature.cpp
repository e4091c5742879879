#include "app/updater/ArchiveSignature.hpp"

#include <sodium.h>

#include <array>
#include <fstream>
#include <optional>
#include <vector>

namespace kestrane::updater {
namespace {

std::optional<std::vector<unsigned char>> fromBase64(std::string_view text, std::size_t expected) {
  std::vector<unsigned char> bytes(expected);
  std::size_t length = 0;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), " \t\r\n", &length, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != expected) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

bool archiveIsSigned(const std::filesystem::path& archive, std::string_view signatureBase64,
                     std::string_view publicKeyBase64) {
  if (sodium_init() < 0) return false;
  auto signature = fromBase64(signatureBase64, crypto_sign_BYTES);
  auto key = fromBase64(publicKeyBase64, crypto_sign_PUBLICKEYBYTES);
  if (!signature || !key) return false;
  std::ifstream in(archive, std::ios::binary);
  if (!in) return false;
  crypto_sign_state state;
  crypto_sign_init(&state);
  std::array<char, 1 << 16> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    auto got = in.gcount();
    if (got > 0) {
      crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                         static_cast<unsigned long long>(got));
    }
  }
  if (in.bad()) return false;
  return crypto_sign_final_verify(&state, signature->data(), key->data()) == 0;
}

}  // namespace kestrane::updater
