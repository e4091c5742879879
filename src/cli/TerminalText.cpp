#include "TerminalText.hpp"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>
#include <utf8proc.h>

namespace kestrane::cli {

namespace {

// The marks that reorder or isolate the text around them: a file name holding one can show as
// another name, or turn the rest of the line around.
bool isDirectionalMark(utf8proc_int32_t code) {
  return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i);
    utf8proc_int32_t code = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(at, static_cast<utf8proc_ssize_t>(text.size() - i), &code);
    if (length <= 0) {
      out += fmt::format("\\x{:02X}", *at);
      ++i;
      continue;
    }
    switch (code) {
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case 0x1B: out += "\\e"; break;
      default:
        if (code < 0x20 || code == 0x7F) {
          out += fmt::format("\\x{:02X}", code);
        } else if ((code >= 0x80 && code <= 0x9F) || isDirectionalMark(code) || code == 0x2028 || code == 0x2029) {
          // C1 controls, which some terminals obey like escape sequences, direction marks and
          // the line and paragraph separators.
          out += fmt::format("\\u{:04X}", code);
        } else {
          out.append(text, i, static_cast<std::size_t>(length));
        }
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string shellQuoted(std::string_view text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("._-/+,:@%").find(c) != std::string_view::npos;
  });
  if (plain) return std::string(text);
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace kestrane::cli
