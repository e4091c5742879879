#pragma once
// Small Unicode helpers over utf8proc for the text toolkit: code points,
// categories, lower-casing, NFC and grapheme clusters.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::UnicodeText {

// Decodes the code point at text[pos], advancing pos; an invalid byte reads
// as U+FFFD and advances one byte.
char32_t next(std::string_view text, std::size_t& pos);

void appendUtf8(std::string& out, char32_t cp);
// Locale-independent full lower-case mapping of one code point.
void appendLower(std::string& out, char32_t cp);

// The Unicode White_Space characters (category Z, TAB to CR, NEL).
bool isWhiteSpace(char32_t cp);
// General category P.
bool isPunctuation(char32_t cp);

// Printable ASCII only: one byte per character, already in NFC.
bool isPlainAscii(std::string_view text);

std::string nfc(std::string_view text);

// Extended grapheme clusters, as views into text.
std::vector<std::string_view> graphemes(std::string_view text);
int graphemeCount(std::string_view text);

}  // namespace kestrane::UnicodeText
