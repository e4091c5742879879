#include "TerminalText.hpp"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace kestrane::cli {

namespace {

// Length of the well-formed UTF-8 sequence at `i`, or 0.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  std::size_t length = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) length = 2;
  else if (b0 == 0xE0) length = 3, lo = 0xA0;
  else if (b0 == 0xED) length = 3, hi = 0x9F;
  else if (b0 >= 0xE1 && b0 <= 0xEF) length = 3;
  else if (b0 == 0xF0) length = 4, lo = 0x90;
  else if (b0 == 0xF4) length = 4, hi = 0x8F;
  else if (b0 >= 0xF1 && b0 <= 0xF3) length = 4;
  else return 0;
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char b = byte(i + k);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = sequenceLength(text, i);
    if (length == 0) {
      out += fmt::format("\\x{:02X}", c);
      ++i;
      continue;
    }
    if (length == 1 && (c < 0x20 || c == 0x7F)) {
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case 0x1B: out += "\\e"; break;
        default: out += fmt::format("\\x{:02X}", c);
      }
    } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080…U+009F: C1 controls, which some terminals obey like escape sequences.
      out += fmt::format("\\u{:04X}", static_cast<unsigned char>(text[i + 1]));
    } else {
      out.append(text, i, length);
    }
    i += length;
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
