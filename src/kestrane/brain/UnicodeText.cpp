#include "kestrane/brain/UnicodeText.hpp"

#include <utf8proc.h>

#include <cstdlib>

namespace kestrane::UnicodeText {

char32_t next(std::string_view text, std::size_t& pos) {
  utf8proc_int32_t cp = 0;
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + pos),
                            static_cast<utf8proc_ssize_t>(text.size() - pos), &cp);
  if (n <= 0) {
    ++pos;
    return U'\uFFFD';
  }
  pos += static_cast<std::size_t>(n);
  return static_cast<char32_t>(cp);
}

void appendUtf8(std::string& out, char32_t cp) {
  utf8proc_uint8_t buffer[4];
  auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), buffer);
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

void appendLower(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp));
    return;
  }
  // The one unconditional lower-case mapping to more than one code point.
  if (cp == 0x0130) {
    out.append("i\xCC\x87");
    return;
  }
  appendUtf8(out, static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(cp))));
}

bool isWhiteSpace(char32_t cp) {
  if (cp == 0x20 || (cp >= 0x09 && cp <= 0x0D) || cp == 0x85) return true;
  if (cp < 0x80) return false;
  auto category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

bool isPunctuation(char32_t cp) {
  auto category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return category >= UTF8PROC_CATEGORY_PC && category <= UTF8PROC_CATEGORY_PO;
}

bool isPlainAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

std::string nfc(std::string_view text) {
  if (isPlainAscii(text)) return std::string(text);
  utf8proc_uint8_t* mapped = nullptr;
  auto n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
                   &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return std::string(text);  // not valid UTF-8: compare as bytes
  std::string result(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(n));
  std::free(mapped);
  return result;
}

std::vector<std::string_view> graphemes(std::string_view text) {
  std::vector<std::string_view> clusters;
  std::size_t pos = 0, start = 0;
  utf8proc_int32_t state = 0;
  char32_t previous = 0;
  bool first = true;
  while (pos < text.size()) {
    std::size_t at = pos;
    char32_t cp = next(text, pos);
    if (!first && utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                                   static_cast<utf8proc_int32_t>(cp), &state)) {
      clusters.push_back(text.substr(start, at - start));
      start = at;
    }
    previous = cp;
    first = false;
  }
  if (!first) clusters.push_back(text.substr(start));
  return clusters;
}

int graphemeCount(std::string_view text) {
  if (isPlainAscii(text)) return static_cast<int>(text.size());
  return static_cast<int>(graphemes(text).size());
}

}  // namespace kestrane::UnicodeText
