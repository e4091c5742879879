#include "kestrane/graphics/EscapeDecoding.hpp"

#include <array>
#include <cctype>
#include <optional>
#include <utility>

#include "kestrane/brain/UnicodeText.hpp"
#include "kestrane/graphics/CodeComments.hpp"

namespace kestrane::EscapeDecoding {
namespace {

// The named references that spell the characters of an address or a call, plus the common
// ones. Anything else cannot build a scheme, a host or a separator.
constexpr std::array<std::pair<std::string_view, std::string_view>, 40> namedReferences{{
    {"colon", ":"},  {"sol", "/"},      {"bsol", "\\"},  {"period", "."},      {"lpar", "("},     {"rpar", ")"},
    {"quot", "\""},  {"QUOT", "\""},    {"apos", "'"},   {"lt", "<"},          {"LT", "<"},       {"gt", ">"},
    {"GT", ">"},     {"amp", "&"},      {"AMP", "&"},    {"Tab", "\t"},        {"NewLine", "\n"}, {"num", "#"},
    {"quest", "?"},  {"commat", "@"},   {"equals", "="}, {"excl", "!"},        {"percnt", "%"},   {"dollar", "$"},
    {"lowbar", "_"}, {"UnderBar", "_"}, {"comma", ","},  {"semi", ";"},        {"plus", "+"},     {"ast", "*"},
    {"midast", "*"}, {"verbar", "|"},   {"vert", "|"},   {"lsqb", "["},        {"lbrack", "["},   {"rsqb", "]"},
    {"rbrack", "]"}, {"grave", "`"},    {"Hat", "^"},    {"nbsp", "\xC2\xA0"},
}};

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Reads up to `limit` digits of `base` at `at`; the value saturates instead of overflowing.
unsigned long readNumber(std::string_view text, std::size_t& at, int base, std::size_t limit) {
  unsigned long value = 0;
  std::size_t used = 0;
  while (at < text.size() && used < limit && (base == 16 ? isHex(text[at]) : isDigit(text[at]))) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
    const unsigned long digit =
        c <= '9' ? static_cast<unsigned long>(c - '0') : static_cast<unsigned long>(c - 'a' + 10);
    if (value < 0x1000000) value = value * static_cast<unsigned long>(base) + digit;
    ++at;
    ++used;
  }
  return value;
}

bool startsWithCaseless(std::string_view lower, std::size_t at, std::string_view word) {
  return lower.size() >= at + word.size() && lower.compare(at, word.size(), word) == 0;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Copies `text`, handing each backslash that has something after it to `escape`, which reads
// the escape from just past the backslash, appends what it stands for and returns where it ends.
template <typename Escape>
std::string withBackslashEscapes(std::string_view text, Escape escape) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out.push_back(text[i++]);
      continue;
    }
    i = escape(out, i + 1);
  }
  return out;
}

enum class Context { markup, style, script };

// Comments are blanked where the script or CSS parser meets them: in an element's text as
// written, in an attribute after its references are resolved.
std::string decodedAs(std::string_view part, Context context, bool attribute) {
  if (context == Context::markup) return characterReferences(part);
  const auto blanked = [context](std::string_view code) {
    return context == Context::style ? CodeComments::blankedStyle(code) : CodeComments::blankedScript(code);
  };
  const std::string plain = attribute ? blanked(characterReferences(part)) : characterReferences(blanked(part));
  return context == Context::style ? cssEscapes(plain) : scriptEscapes(plain);
}

// An attribute whose value is CSS (style) or script (on...), starting at `at` in markup.
std::optional<Context> attributeAt(std::string_view lower, std::size_t at) {
  if (at == 0) return std::nullopt;
  const char before = lower[at - 1];
  if (!isSpace(before) && before != '/' && before != '"' && before != '\'') return std::nullopt;
  std::size_t end = at;
  while (end < lower.size() && std::isalpha(static_cast<unsigned char>(lower[end]))) ++end;
  const std::string_view name = lower.substr(at, end - at);
  if (name != "style" && !(name.size() > 2 && name.starts_with("on"))) return std::nullopt;
  while (end < lower.size() && isSpace(lower[end])) ++end;
  if (end >= lower.size() || lower[end] != '=') return std::nullopt;
  return name == "style" ? Context::style : Context::script;
}

}  // namespace

void appendCodePoint(std::string& out, unsigned long cp) {
  // A browser reads NUL, surrogates and anything past Unicode as the replacement character.
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  UnicodeText::appendUtf8(out, static_cast<char32_t>(cp));
}

std::string characterReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '&') {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t at = i + 1;
    if (at < text.size() && text[at] == '#') {
      ++at;
      const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
      if (hex) ++at;
      const std::size_t digits = at;
      const unsigned long cp = readNumber(text, at, hex ? 16 : 10, text.size());
      if (at > digits) {
        if (at < text.size() && text[at] == ';') ++at;
        appendCodePoint(out, cp);
        i = at;
        continue;
      }
    } else {
      bool matched = false;
      for (const auto& [name, value] : namedReferences) {
        if (text.compare(at, name.size(), name) == 0 && at + name.size() < text.size() &&
            text[at + name.size()] == ';') {
          out += value;
          i = at + name.size() + 1;
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out.push_back(text[i++]);
  }
  return out;
}

std::string cssEscapes(std::string_view text) {
  return withBackslashEscapes(text, [text](std::string& out, std::size_t at) {
    if (isHex(text[at])) {
      appendCodePoint(out, readNumber(text, at, 16, 6));
      if (at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n') at += 2;
      else if (at < text.size() && isSpace(text[at])) ++at;
    } else if (text[at] == '\n' || text[at] == '\r' || text[at] == '\f') {
      ++at;  // a line continuation inside a string
    } else {
      out.push_back(text[at++]);
    }
    return at;
  });
}

std::string scriptEscapes(std::string_view text) {
  return withBackslashEscapes(text, [text](std::string& out, std::size_t at) {
    const char kind = text[at++];
    if (kind == 'x' && at + 2 <= text.size() && isHex(text[at]) && isHex(text[at + 1])) {
      appendCodePoint(out, readNumber(text, at, 16, 2));
    } else if (kind == 'u' && at < text.size() && text[at] == '{') {
      std::size_t digits = at + 1;
      const unsigned long cp = readNumber(text, digits, 16, 8);
      if (digits < text.size() && text[digits] == '}' && digits > at + 1) {
        appendCodePoint(out, cp);
        at = digits + 1;
      } else {
        out.push_back('u');
      }
    } else if (kind == 'u' && at + 4 <= text.size() && isHex(text[at]) && isHex(text[at + 1]) && isHex(text[at + 2]) &&
               isHex(text[at + 3])) {
      appendCodePoint(out, readNumber(text, at, 16, 4));
    } else if (kind == 'n') {
      out.push_back('\n');
    } else if (kind == 't') {
      out.push_back('\t');
    } else if (kind == 'r') {
      out.push_back('\r');
    } else if (kind == '\\') {
      // A doubled backslash is one backslash; a browser reads it as a slash in an address.
      out.push_back('\\');
    } else if (kind != '\n') {
      out.push_back(kind);
    }
    return at;
  });
}

Decoded document(std::string_view html) {
  const std::string lower = lowered(html);
  Decoded out;
  out.text.reserve(html.size());
  std::size_t plainFrom = 0;
  const auto flushMarkup = [&](std::size_t to) {
    if (to > plainFrom) out.text += decodedAs(html.substr(plainFrom, to - plainFrom), Context::markup, false);
  };
  const auto take = [&](std::size_t from, std::size_t to, Context context, bool attribute) {
    const std::string part = decodedAs(html.substr(from, to - from), context, attribute);
    (context == Context::script ? out.scriptRanges : out.styleRanges).push_back({out.text.size(), part.size()});
    out.text += part;
    if (context == Context::script) out.script += part + "\n";
  };

  std::size_t i = 0;
  while (i < html.size()) {
    const bool script = startsWithCaseless(lower, i, "<script");
    if (script || startsWithCaseless(lower, i, "<style")) {
      const std::size_t open = lower.find('>', i);
      if (open == std::string::npos) break;
      flushMarkup(open + 1);
      const std::size_t close = lower.find(script ? "</script" : "</style", open + 1);
      const std::size_t end = close == std::string::npos ? html.size() : close;
      take(open + 1, end, script ? Context::script : Context::style, false);
      i = plainFrom = end;
      continue;
    }
    if (const auto context = attributeAt(lower, i)) {
      std::size_t value = lower.find('=', i) + 1;
      while (value < html.size() && isSpace(html[value])) ++value;
      std::size_t from = value, to = value;
      if (value < html.size() && (html[value] == '"' || html[value] == '\'')) {
        from = value + 1;
        to = html.find(html[value], from);
        if (to == std::string_view::npos) to = html.size();
      } else {
        while (to < html.size() && !isSpace(html[to]) && html[to] != '>') ++to;
      }
      flushMarkup(from);
      take(from, to, *context, true);
      i = plainFrom = to;
      continue;
    }
    ++i;
  }
  flushMarkup(html.size());
  return out;
}

}  // namespace kestrane::EscapeDecoding
