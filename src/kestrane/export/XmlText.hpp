#pragma once
// Text made safe for the XML documents we write: whatever bytes come in (file names, notes,
// recognised words), what goes out is well-formed UTF-8 XML 1.0.
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane::XmlText {

// Valid UTF-8: each byte that is not part of a valid sequence becomes U+FFFD, and characters
// that XML 1.0 cannot hold (controls other than tab and line breaks, U+FFFE, U+FFFF) are dropped.
std::string sanitized(std::string_view text);

// Sanitised, with & < > " turned into entities (ampersand first), for an attribute value.
// Tab and line breaks become character references, which an XML reader would otherwise
// normalise to blanks.
std::string attribute(std::string_view text);

// Sanitised, with & < > " turned into entities, for element content. A carriage return
// becomes a character reference so that it survives line-end normalisation.
std::string content(std::string_view text);

// The first `count` user-perceived characters of sanitised text (a letter with its combining
// marks, or one emoji sequence, counts once).
std::string prefixCharacters(std::string_view text, std::size_t count);

}  // namespace kestrane::XmlText
