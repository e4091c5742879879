#pragma once
// Byte strings that may not be UTF-8 (file names on this system are bytes): checking them,
// showing them, and keeping them exactly in text that must be UTF-8.
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane::Utf8Text {

// Length of the valid UTF-8 sequence at text[i], or 0 when none starts there.
std::size_t sequenceLength(std::string_view text, std::size_t i);

bool isValid(std::string_view text);

// Valid UTF-8 for showing: every byte that starts no valid sequence becomes U+FFFD.
std::string lossy(std::string_view text);

// Valid UTF-8 that gives the bytes back through fromEscaped: '%' and every byte outside a valid
// sequence are written as "%XX".
std::string escaped(std::string_view bytes);
// The bytes escaped() was given; a '%' not followed by two hex digits stays as it is.
std::string fromEscaped(std::string_view text);

}  // namespace kestrane::Utf8Text
