#pragma once
// Texts that come back from the model's transport (replies, error bodies, the tool's output)
// are shown to the user and stored in the session file. A gateway or a tool may echo the
// credentials it was given, so those texts lose every secret before anything else reads them.
#include <span>
#include <string>
#include <string_view>

namespace kestrane::SecretRedaction {

inline constexpr std::string_view kMark = "[redacted]";

// The text with every occurrence of the given secrets (those of 8 characters or more), every
// bearer token ("Bearer abc…") and every key shaped like the vendor's ("sk-…") replaced by
// kMark.
std::string redact(std::string_view text, std::span<const std::string> secrets);

}  // namespace kestrane::SecretRedaction
