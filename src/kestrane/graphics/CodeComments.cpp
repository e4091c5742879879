#include "kestrane/graphics/CodeComments.hpp"

#include <array>
#include <cctype>

namespace kestrane::CodeComments {
namespace {

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; }

// Blanks out[from, to) but for line breaks.
void blank(std::string& out, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < out.size(); ++i)
    if (!isLineBreak(out[i])) out[i] = ' ';
}

// Past the string opened by the quote at `at`: its closing quote, or the line break or end that
// cuts it off. A backslash carries the next character, a line break too.
std::size_t stringEnd(std::string_view text, std::size_t at, bool multiline) {
  const char quote = text[at];
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == quote) {
      return i + 1;
    } else if (!multiline && isLineBreak(text[i])) {
      return i;
    }
  }
  return text.size();
}

// Past the block comment opened at `at`; a comment never closed runs to the end.
std::size_t blockCommentEnd(std::string_view text, std::size_t at) {
  const std::size_t close = text.find("*/", at + 2);
  return close == std::string_view::npos ? text.size() : close + 2;
}

// Past the regular expression opened by the slash at `at`. One that does not close on its
// line is taken to run to the line's end: either it is one and the script never runs, or the
// slash divides and the rest of the line is only left unblanked.
std::size_t regexEnd(std::string_view text, std::size_t at) {
  bool inClass = false;
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (isLineBreak(c)) return i;
    if (c == '\\') {
      ++i;
    } else if (c == '[') {
      inClass = true;
    } else if (c == ']') {
      inClass = false;
    } else if (c == '/' && !inClass) {
      return i + 1;
    }
  }
  return text.size();
}

// Whether a slash after `before` (the last character of code before it, blanks skipped; 0 at
// the start) opens a regular expression rather than dividing. After a name or a number it
// divides, unless the name is a keyword that takes an expression.
bool opensRegex(std::string_view code, std::size_t slash) {
  std::size_t i = slash;
  while (i > 0 && std::isspace(static_cast<unsigned char>(code[i - 1])) != 0) --i;
  if (i == 0) return true;
  const char before = code[i - 1];
  if (before == ']') return false;
  if (!isWordChar(before)) return true;
  std::size_t start = i;
  while (start > 0 && isWordChar(code[start - 1])) --start;
  static constexpr std::array<std::string_view, 14> keywords{"return", "typeof", "instanceof", "in",    "of",
                                                             "new",    "delete", "void",       "throw", "case",
                                                             "do",     "else",   "yield",      "await"};
  const std::string_view word = code.substr(start, i - start);
  for (auto keyword : keywords)
    if (word == keyword) return true;
  return false;
}

// Past the unquoted url(...) body starting at `at` (just past the parenthesis), when it is one.
std::size_t unquotedURLEnd(std::string_view css, std::size_t at) {
  std::size_t i = at;
  while (i < css.size() && std::isspace(static_cast<unsigned char>(css[i])) != 0) ++i;
  if (i < css.size() && (css[i] == '"' || css[i] == '\'')) return at;
  for (; i < css.size(); ++i) {
    if (css[i] == '\\') ++i;
    else if (css[i] == ')') return i + 1;
  }
  return css.size();
}

bool opensURL(std::string_view css, std::size_t at) {
  if (at + 4 > css.size() || (at > 0 && (isWordChar(css[at - 1]) || css[at - 1] == '-'))) return false;
  const std::string_view name = css.substr(at, 4);
  return (name[0] == 'u' || name[0] == 'U') && (name[1] == 'r' || name[1] == 'R') &&
         (name[2] == 'l' || name[2] == 'L') && name[3] == '(';
}

}  // namespace

std::string blankedScript(std::string_view script) {
  std::string out(script);
  std::size_t i = 0;
  while (i < script.size()) {
    const char c = script[i];
    if (c == '"' || c == '\'' || c == '`') {
      i = stringEnd(script, i, c == '`');
    } else if (c == '/' && i + 1 < script.size() && script[i + 1] == '/') {
      std::size_t end = i;
      while (end < script.size() && !isLineBreak(script[end])) ++end;
      blank(out, i, end);
      i = end;
    } else if (c == '/' && i + 1 < script.size() && script[i + 1] == '*') {
      const std::size_t end = blockCommentEnd(script, i);
      blank(out, i, end);
      i = end;
    } else if (c == '/' && opensRegex(out, i)) {
      i = regexEnd(script, i);
    } else {
      ++i;
    }
  }
  return out;
}

std::string blankedStyle(std::string_view css) {
  std::string out(css);
  std::size_t i = 0;
  while (i < css.size()) {
    const char c = css[i];
    if (c == '"' || c == '\'') {
      i = stringEnd(css, i, false);
    } else if (c == '\\') {
      i += 2;
    } else if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
      const std::size_t end = blockCommentEnd(css, i);
      blank(out, i, end);
      i = end;
    } else if (opensURL(css, i)) {
      i = unquotedURLEnd(css, i + 4);
    } else {
      ++i;
    }
  }
  return out;
}

}  // namespace kestrane::CodeComments
