#include "kestrane/analysis/MarkdownScript.hpp"

#include <cctype>
#include <vector>

namespace kestrane::MarkdownScript {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }
bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || (c & 0x80); }

std::size_t skipSpaces(std::string_view line, std::size_t i) {
  while (i < line.size() && isSpace(line[i])) ++i;
  return i;
}

// "# Title" … "###### Title", or a lone run of #.
bool isHeading(std::string_view line) {
  std::size_t i = skipSpaces(line, 0), hashes = 0;
  while (i + hashes < line.size() && line[i + hashes] == '#') ++hashes;
  if (hashes == 0 || hashes > 6) return false;
  return i + hashes == line.size() || isSpace(line[i + hashes]);
}

// A line of one repeated mark (spaces allowed between), at least `least` of them.
bool isRuleOf(std::string_view line, char mark, std::size_t least) {
  std::size_t count = 0;
  for (char c : line) {
    if (c == mark) {
      ++count;
    } else if (!isSpace(c) && c != '\r') {
      return false;
    }
  }
  return count >= least;
}

bool isThematicBreak(std::string_view line) {
  return isRuleOf(line, '-', 3) || isRuleOf(line, '*', 3) || isRuleOf(line, '_', 3);
}

bool isSetextUnderline(std::string_view line) { return isRuleOf(line, '=', 1) || isRuleOf(line, '-', 1); }

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

// Position after the block-quote markers and one list marker at the start of the line.
std::size_t bodyStart(std::string_view line) {
  std::size_t i = skipSpaces(line, 0);
  while (i < line.size() && line[i] == '>') i = skipSpaces(line, i + 1);
  if (i + 1 < line.size() && (line[i] == '-' || line[i] == '*' || line[i] == '+') && isSpace(line[i + 1])) {
    return skipSpaces(line, i + 1);
  }
  std::size_t digits = 0;
  while (i + digits < line.size() && std::isdigit(static_cast<unsigned char>(line[i + digits]))) {
    ++digits;
  }
  if (digits > 0 && digits <= 9 && i + digits + 1 < line.size() &&
      (line[i + digits] == '.' || line[i + digits] == ')') && isSpace(line[i + digits + 1])) {
    return skipSpaces(line, i + digits + 1);
  }
  return i;
}

// The body with emphasis markers taken off. An underscore inside a word (snake_case) stays.
std::string withoutEmphasis(std::string_view body) {
  std::string out;
  out.reserve(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\\' && i + 1 < body.size() && std::ispunct(static_cast<unsigned char>(body[i + 1]))) {
      out += body[++i];
      continue;
    }
    if (c == '*') continue;
    if (c == '_') {
      std::size_t end = i;
      while (end < body.size() && body[end] == '_') ++end;
      const bool inWord = i > 0 && end < body.size() && isWordChar(body[i - 1]) && isWordChar(body[end]);
      if (inWord) out.append(body.substr(i, end - i));
      i = end - 1;
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

std::string spokenText(std::string_view markdown) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = markdown.find('\n', start);
    lines.push_back(markdown.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  std::vector<std::string> spoken(lines.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::string_view line = lines[k];
    const bool underline = k > 0 && !isBlank(lines[k - 1]) && isSetextUnderline(line) && !isHeading(lines[k - 1]);
    if (underline) {
      spoken[k - 1].clear();  // the line above was a title
      continue;
    }
    if (isHeading(line) || isThematicBreak(line)) continue;
    spoken[k] = withoutEmphasis(line.substr(bodyStart(line)));
  }
  std::string out;
  out.reserve(markdown.size());
  for (std::size_t k = 0; k < spoken.size(); ++k) {
    if (k > 0) out += '\n';
    out += spoken[k];
  }
  return out;
}

}  // namespace kestrane::MarkdownScript
