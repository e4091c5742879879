#include "kestrane/ai/ModelText.hpp"

#include "kestrane/brain/UnicodeText.hpp"

namespace kestrane::ModelText {

std::string prefix(std::string_view text, int count) {
  std::string out;
  int taken = 0;
  for (std::string_view g : UnicodeText::graphemes(text)) {
    if (taken++ == count) break;
    out.append(g);
  }
  return out;
}

std::string_view trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  // Finds the first and last code points that are not white space.
  std::size_t pos = 0, firstKept = text.size(), lastEnd = 0;
  while (pos < text.size()) {
    const std::size_t at = pos;
    if (!UnicodeText::isWhiteSpace(UnicodeText::next(text, pos))) {
      if (firstKept == text.size()) firstKept = at;
      lastEnd = pos;
    }
  }
  if (firstKept == text.size()) return text.substr(0, 0);
  begin = firstKept;
  end = lastEnd;
  return text.substr(begin, end - begin);
}

std::string withoutControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = UnicodeText::next(text, pos);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    if (control && cp != U'\t' && cp != U'\n') continue;
    UnicodeText::appendUtf8(out, cp);
  }
  return out;
}

int wordCount(std::string_view text) {
  int words = 0;
  bool inWord = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const bool space = UnicodeText::isWhiteSpace(UnicodeText::next(text, pos));
    if (!space && !inWord) ++words;
    inWord = !space;
  }
  return words;
}

bool nestsDeeperThan(std::string_view json, int levels) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : json) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    else if (c == '{' || c == '[') {
      if (++depth > levels) return true;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return false;
}

}  // namespace kestrane::ModelText
