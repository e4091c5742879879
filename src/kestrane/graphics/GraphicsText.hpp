#pragma once
// The Unicode text rules of the graphics tier, from ICU: line splitting, trimming, character
// classes, lower-casing, case-insensitive search, regular expressions and plain number reading.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::GraphicsText {

// Lines split at every line break; CR LF is one break. A final break yields no empty last line
// beyond what the text holds ("a\n" is "a" and "").
std::vector<std::string_view> lines(std::string_view text);

// Blanks and tabs off both ends.
std::string_view trimBlanks(std::string_view text);
// White space and line breaks (Unicode White_Space) off both ends.
std::string_view trimSpace(std::string_view text);

bool startsWith(std::string_view text, std::string_view prefix);
std::string lower(std::string_view text);

// Code point classes: letters, marks and digits of any script; any numeric character.
bool isAlphanumeric(char32_t cp);
bool isNumeric(char32_t cp);
// Decodes the code point at text[pos] and advances pos (invalid bytes read as U+FFFD).
char32_t next(std::string_view text, std::size_t& pos);

// User-perceived characters.
std::vector<std::string_view> graphemes(std::string_view text);
std::size_t graphemeCount(std::string_view text);
// The first `count` user-perceived characters.
std::string_view prefixGraphemes(std::string_view text, std::size_t count);

// Case-insensitive search for a literal needle from byte offset `from`; npos when absent.
std::size_t findCaseless(std::string_view text, std::string_view needle, std::size_t from = 0);
// The text without control characters; tabs and line breaks become single blanks.
std::string withoutControls(std::string_view text);

// One regular-expression match: its byte range and its capture groups (group 0 first).
struct Match {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::vector<std::string> groups;
};
// Every non-overlapping match of an ICU pattern, in order; a pattern that fails to compile
// matches nothing.
std::vector<Match> findAll(std::string_view pattern, std::string_view text, bool caseInsensitive = false);
// The matched texts only.
std::vector<std::string> matchTexts(std::string_view pattern, std::string_view text, bool caseInsensitive = false);

// A decimal number of the whole text (optional sign, fraction, exponent); nothing for anything
// else, including values out of range.
std::optional<double> number(std::string_view text);
// A whole decimal number with an optional sign.
std::optional<long long> wholeNumber(std::string_view text);

// Rounds half away from zero into an int, clamping first so no value is out of range;
// NaN gives 0.
long long roundedClamped(double value, double lo, double hi);

// printf-style "%.1f" and friends without locale surprises.
std::string fixed(double value, int decimals);

}  // namespace kestrane::GraphicsText
