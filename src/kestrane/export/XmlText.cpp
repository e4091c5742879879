#include "kestrane/export/XmlText.hpp"

#include <utf8proc.h>

namespace kestrane::XmlText {

namespace {

bool xmlAllows(utf8proc_int32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void appendCodepoint(std::string& out, utf8proc_int32_t c) {
  utf8proc_uint8_t buffer[4];
  const auto n = utf8proc_encode_char(c, buffer);
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

// Calls `visit` with every code point of the text, after replacement of invalid bytes.
template <class Visit>
void forEachCodepoint(std::string_view text, Visit&& visit) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    utf8proc_int32_t c = 0;
    const auto n = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &c);
    if (n <= 0) {
      visit(0xFFFD);
      ++i;
      continue;
    }
    visit(c);
    i += static_cast<std::size_t>(n);
  }
}

std::string escape(std::string_view text, bool inAttribute) {
  std::string out;
  out.reserve(text.size() + 8);
  forEachCodepoint(text, [&](utf8proc_int32_t c) {
    if (!xmlAllows(c)) return;
    switch (c) {
      case '&': out += "&amp;"; return;
      case '<': out += "&lt;"; return;
      case '>': out += "&gt;"; return;
      case '"': out += "&quot;"; return;
      case '\r': out += "&#13;"; return;
      case '\t':
        if (inAttribute) {
          out += "&#9;";
          return;
        }
        break;
      case '\n':
        if (inAttribute) {
          out += "&#10;";
          return;
        }
        break;
      default: break;
    }
    appendCodepoint(out, c);
  });
  return out;
}

}  // namespace

std::string sanitized(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  forEachCodepoint(text, [&](utf8proc_int32_t c) {
    if (xmlAllows(c)) appendCodepoint(out, c);
  });
  return out;
}

std::string attribute(std::string_view text) { return escape(text, true); }

std::string content(std::string_view text) { return escape(text, false); }

std::string prefixCharacters(std::string_view text, std::size_t count) {
  std::string out;
  std::size_t clusters = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  bool done = false;
  forEachCodepoint(text, [&](utf8proc_int32_t c) {
    if (done || !xmlAllows(c)) return;
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, c, &state)) {
      if (clusters == count) {
        done = true;
        return;
      }
      ++clusters;
    }
    previous = c;
    appendCodepoint(out, c);
  });
  return out;
}

}  // namespace kestrane::XmlText
