#pragma once
// Texts that come back from the model's transport (replies, error bodies, the tool's output)
// are shown to the user and stored in the session file. A gateway or a tool may echo the
// credentials it was given, so those texts never carry the secrets this program holds; and a
// failure's text, which quotes whatever went wrong, loses anything shaped like a credential too.
#include <span>
#include <string>
#include <string_view>

namespace kestrane::SecretRedaction {

inline constexpr std::string_view kMark = "[redacted]";

// The text with each of the given secrets (those of 8 characters or more) replaced by kMark
// wherever it appears as it is in any letter case, or base64-encoded (standard or URL-safe,
// at any offset, as inside a "Basic …" credential). Nothing else changes: this is what a
// successful reply goes through.
std::string withoutSecrets(std::string_view text, std::span<const std::string> secrets);

// withoutSecrets of the text as a JSON reader decodes it: the escapes of printable ASCII
// characters ("\u0073", "\/") written out first, which changes nothing a JSON reader sees, so a
// secret spelled with them is found too. A text without a secret comes back as it was. For
// replies that are read as JSON.
std::string withoutSecretsInJson(std::string_view text, std::span<const std::string> secrets);

// withoutSecrets, and then every bearer token ("Bearer abc…") and every key shaped like the
// vendor's ("sk-…") replaced by kMark too: for error texts and whatever is kept of a failure.
std::string redact(std::string_view text, std::span<const std::string> secrets);

}  // namespace kestrane::SecretRedaction
