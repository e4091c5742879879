#include "kestrane/graphics/EscapeDecoding.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "kestrane/brain/UnicodeText.hpp"
#include "kestrane/graphics/CodeComments.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::EscapeDecoding {
namespace {

// How often a long decoding looks for a stop.
constexpr std::size_t stopStride = 64 * 1024;

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

}  // namespace

void appendCodePoint(std::string& out, unsigned long cp) {
  // A browser reads NUL, surrogates and anything past Unicode as the replacement character.
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  UnicodeText::appendUtf8(out, static_cast<char32_t>(cp));
}

std::string characterReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  // One stretch of text may be the whole reply: a stop is looked for along the way.
  std::size_t nextCheck = stopStride;
  for (std::size_t i = 0; i < text.size();) {
    if (i >= nextCheck) {
      checkpoint();
      nextCheck = i + stopStride;
    }
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

std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
      std::size_t at = i + 1;
      out.push_back(static_cast<char>(readNumber(text, at, 16, 2)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string base64Decoded(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned long bits = 0;
  int count = 0;
  for (char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+' || c == '-') value = 62;
    else if (c == '/' || c == '_') value = 63;
    else if (c == '=') break;
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<unsigned long>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

namespace {

// Elements followed inside <svg> and <math>; past this depth they are not followed any more.
constexpr std::size_t maxOpen = 1024;

enum class Context { style, script };

bool isHTMLSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool isAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
// What may follow a tag name for the tag to count as one.
bool endsTagName(char c) { return isHTMLSpace(c) || c == '/' || c == '>'; }

// A browser drops blanks and control characters around an address.
std::string_view trimmed(std::string_view value) {
  while (!value.empty() && static_cast<unsigned char>(value.front()) <= 0x20) value.remove_prefix(1);
  while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.remove_suffix(1);
  return value;
}

// Where "</name" followed by a blank, "/" or ">" starts at or after `from`; the end when nowhere.
std::size_t endTagFrom(std::string_view html, std::string_view lower, std::size_t from, std::string_view name) {
  const std::string close = "</" + std::string(name);
  for (std::size_t p = lower.find(close, from); p != std::string_view::npos; p = lower.find(close, p + 1)) {
    checkpoint();
    if (p + close.size() < html.size() && endsTagName(html[p + close.size()])) return p;
  }
  return html.size();
}

// The script types a browser runs; anything else is data it leaves alone.
std::optional<CodeComments::ScriptKind> scriptKind(std::string_view type) {
  constexpr std::array<std::string_view, 17> classic{
      "",
      "text/javascript",
      "application/javascript",
      "application/ecmascript",
      "application/x-ecmascript",
      "application/x-javascript",
      "text/ecmascript",
      "text/javascript1.0",
      "text/javascript1.1",
      "text/javascript1.2",
      "text/javascript1.3",
      "text/javascript1.4",
      "text/javascript1.5",
      "text/jscript",
      "text/livescript",
      "text/x-javascript",
      "text/x-ecmascript",
  };
  if (type == "module") return CodeComments::ScriptKind::module;
  for (auto name : classic)
    if (type == name) return CodeComments::ScriptKind::classic;
  return std::nullopt;
}

bool isFrame(std::string_view tag) { return tag == "iframe" || tag == "frame" || tag == "object" || tag == "embed"; }

// A data: address a frame may show without running anything: a plain picture.
bool isRasterData(std::string_view lowerValue) {
  for (std::string_view type :
       {"image/png", "image/jpeg", "image/jpg", "image/gif", "image/webp", "image/avif", "image/bmp"})
    if (lowerValue.substr(5).starts_with(type)) return true;
  return false;
}

struct Attribute {
  std::string name;  // lower-cased
  std::string_view value;
  bool hasValue = false;
};

struct Tag {
  std::string name;  // lower-cased
  std::vector<Attribute> attributes;
  bool selfClosing = false;

  // The first of that name, as a browser keeps it, with its references resolved.
  std::optional<std::string> attribute(std::string_view name) const {
    for (const auto& a : attributes)
      if (a.name == name) return characterReferences(a.value);
    return std::nullopt;
  }
};

// Start tags that end <svg> and <math> content: the parser leaves it to read them as HTML.
bool endsForeignContent(const Tag& tag) {
  constexpr std::array<std::string_view, 44> names{
      "b",     "big",   "blockquote", "body",   "br",   "center", "code",  "dd", "div",  "dl",   "dt",
      "em",    "embed", "h1",         "h2",     "h3",   "h4",     "h5",    "h6", "head", "hr",   "i",
      "img",   "li",    "listing",    "menu",   "meta", "nobr",   "ol",    "p",  "pre",  "ruby", "s",
      "small", "span",  "strong",     "strike", "sub",  "sup",    "table", "tt", "u",    "ul",   "var"};
  if (std::find(names.begin(), names.end(), tag.name) != names.end()) return true;
  if (tag.name != "font") return false;
  for (const auto& a : tag.attributes)
    if (a.name == "color" || a.name == "face" || a.name == "size") return true;
  return false;
}

bool isVoid(std::string_view name) {
  constexpr std::array<std::string_view, 19> names{"area",  "base",  "basefont", "bgsound", "br",    "col",    "embed",
                                                   "frame", "hr",    "image",    "img",     "input", "keygen", "link",
                                                   "meta",  "param", "source",   "track",   "wbr"};
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The document read as a browser's tokenizer reads it, one pass from start to end.
class Reader {
 public:
  explicit Reader(std::string_view html) : html_(html), lower_(lowered(html)) { out_.text.reserve(html.size()); }

  Decoded read() {
    const std::size_t n = html_.size();
    while (pos_ < n) {
      if (pos_ >= nextCheck_) {
        checkpoint();
        nextCheck_ = pos_ + stopStride;
      }
      const std::size_t open = html_.find('<', pos_);
      if (open == std::string_view::npos) break;
      pos_ = open;
      const char next = at(pos_ + 1);
      if (html_.compare(pos_, 4, "<!--") == 0) {
        comment();
      } else if (next == '!' || next == '?' || (next == '/' && !isAlpha(at(pos_ + 2)) && at(pos_ + 2) != '>')) {
        // A bogus comment (or a doctype) up to the next ">": text, though never markup.
        const std::size_t close = html_.find('>', pos_);
        pos_ = close == std::string_view::npos ? n : close + 1;
      } else if (next == '/' && at(pos_ + 2) == '>') {
        flushText(pos_);
        pos_ = plainFrom_ = pos_ + 3;
      } else if (isAlpha(next) || (next == '/' && isAlpha(at(pos_ + 2)))) {
        tag(next == '/');
      } else {
        ++pos_;
      }
    }
    flushText(n);
    return std::move(out_);
  }

 private:
  std::string_view html_;
  std::string lower_;
  Decoded out_;
  std::size_t pos_ = 0;
  std::size_t plainFrom_ = 0;                          // text from here on is not written out yet
  std::size_t unclosedFrom_ = std::string_view::npos;  // no comment opened from here on closes
  std::size_t nextCheck_ = stopStride;
  // Each end tag's last search: where it started and what it found, so that no stretch of the
  // document is searched twice for the same end tag.
  std::map<std::string, std::pair<std::size_t, std::size_t>, std::less<>> endTags_;

  // The elements open from the outermost <svg> or <math> on, as the parser holds them, so it is
  // known whether a raw-text tag's text may be markup. An element holding HTML (an integration
  // point, as <foreignObject> is) has HTML elements of its own above it.
  enum class Space : std::uint8_t { svg, math, html };
  // What a start tag right inside an element is read as: 'f' foreign, 'h' HTML (an HTML
  // integration point), 't' HTML but for <mglyph> and <malignmark> (a MathML text integration
  // point), 'a' HTML only for <svg> (an <annotation-xml>).
  struct Open {
    std::string name;
    Space space;
    char holds;
  };
  std::vector<Open> open_;
  // The parser may hold something this reading does not follow (a tag that leaves svg content,
  // an end tag that does not close the element open): the svg is never taken as closed again.
  bool openUnsure_ = false;

  bool inForeign() const { return openUnsure_ || !open_.empty(); }

  char at(std::size_t i) const { return i < html_.size() ? html_[i] : '\0'; }

  void flushText(std::size_t to) {
    if (to > plainFrom_) out_.text += characterReferences(html_.substr(plainFrom_, to - plainFrom_));
    plainFrom_ = std::max(plainFrom_, to);
  }

  // Comments are blanked where the script or CSS parser meets them: in an element's text as
  // written, in an attribute after its references are resolved.
  // The script's names are read where its plain string and template text is blanked too.
  void take(std::string_view code, Context context, bool attribute, bool blank,
            CodeComments::ScriptKind kind = CodeComments::ScriptKind::classic) {
    const auto decoded = [&](const std::string& part) {
      const std::string plain = attribute ? part : characterReferences(part);
      return context == Context::style ? cssEscapes(plain) : scriptEscapes(plain);
    };
    if (context == Context::style) {
      const std::string part = decoded(blank ? CodeComments::blankedStyle(code) : std::string(code));
      out_.styleRanges.push_back({out_.text.size(), part.size()});
      out_.text += part;
      return;
    }
    std::string part;
    std::string names;
    if (blank) {
      const CodeComments::BlankedScript script = CodeComments::blankedScriptAndProse(code, kind);
      part = decoded(script.code);
      names = decoded(script.names);
    } else {
      part = decoded(std::string(code));
      names = part;
    }
    out_.scriptRanges.push_back({out_.text.size(), part.size()});
    out_.text += part;
    out_.script += names + "\n";
  }

  // Past the comment whose "<!--" is at pos_, where a browser ends it: "<!-->" and "<!--->"
  // are whole comments, and "--!>" closes one as "-->" does. A comment that is never closed is
  // scanned as it stands.
  void comment() {
    const std::size_t body = pos_ + 4;
    std::size_t end = std::string_view::npos;
    if (at(body) == '>') {
      end = body + 1;
    } else if (at(body) == '-' && at(body + 1) == '>') {
      end = body + 2;
    } else if (body < unclosedFrom_) {
      for (std::size_t p = html_.find("--", body); p != std::string_view::npos && end == std::string_view::npos;
           p = html_.find("--", p + 1)) {
        checkpoint();
        if (at(p + 2) == '>') end = p + 3;
        else if (at(p + 2) == '!' && at(p + 3) == '>') end = p + 4;
      }
      if (end == std::string_view::npos) unclosedFrom_ = body;
    }
    if (end == std::string_view::npos) {
      pos_ = body;
      return;
    }
    flushText(pos_);
    pos_ = plainFrom_ = end;
  }

  void tag(bool isEnd) {
    const std::size_t n = html_.size();
    const std::size_t start = pos_;
    std::size_t p = pos_ + (isEnd ? 2 : 1);
    const std::size_t nameFrom = p;
    while (p < n && !endsTagName(html_[p])) ++p;
    Tag tag;
    tag.name = lower_.substr(nameFrom, p - nameFrom);
    while (p < n) {
      const char c = html_[p];
      if (isHTMLSpace(c)) {
        ++p;
      } else if (c == '/') {
        tag.selfClosing = at(++p) == '>';
      } else if (c == '>') {
        ++p;
        break;
      } else {
        const std::size_t nameStart = p++;
        while (p < n && !endsTagName(html_[p]) && html_[p] != '=') ++p;
        Attribute a{lower_.substr(nameStart, p - nameStart), {}, false};
        std::size_t q = p;
        while (q < n && isHTMLSpace(html_[q])) ++q;
        if (q < n && html_[q] == '=') {
          a.hasValue = true;
          for (p = q + 1; p < n && isHTMLSpace(html_[p]);) ++p;
          if (p < n && (html_[p] == '"' || html_[p] == '\'')) {
            const std::size_t close = html_.find(html_[p], p + 1);
            const std::size_t valueEnd = close == std::string_view::npos ? n : close;
            a.value = html_.substr(p + 1, valueEnd - p - 1);
            p = valueEnd == n ? n : valueEnd + 1;
          } else {
            const std::size_t from = p;
            while (p < n && !isHTMLSpace(html_[p]) && html_[p] != '>') ++p;
            a.value = html_.substr(from, p - from);
          }
        }
        tag.attributes.push_back(std::move(a));
      }
    }
    flushText(start);
    out_.text += isEnd ? "</" : "<";
    out_.text += tag.name;
    for (const Attribute& a : tag.attributes) {
      out_.text += ' ';
      out_.text += a.name;
      if (!a.hasValue) continue;
      out_.text += "=\"";
      value(tag, a);
      out_.text += '"';
    }
    out_.text += '>';
    pos_ = plainFrom_ = p;
    if (isEnd) {
      closeForeign(tag.name);
    } else {
      const bool foreign = inForeign();
      openForeign(tag);
      afterStartTag(tag, foreign);
    }
  }

  // Where the elements followed are not the ones the parser holds, they stay open for good.
  void openForeign(const Tag& tag) {
    if (openUnsure_) return;
    const std::string& name = tag.name;
    if (open_.empty()) {
      if ((name == "svg" || name == "math") && !tag.selfClosing)
        open_.push_back({name, name == "svg" ? Space::svg : Space::math, 'f'});
      return;
    }
    if (open_.size() >= maxOpen) {
      openUnsure_ = true;
      return;
    }
    const Open& top = open_.back();
    const bool asHTML = top.space == Space::html || top.holds == 'h' ||
                        (top.holds == 't' && name != "mglyph" && name != "malignmark") ||
                        (top.holds == 'a' && name == "svg");
    // Such a tag ends the foreign elements open up to HTML, and is then read as HTML.
    if (asHTML || (endsForeignContent(tag) && popForeignElements())) {
      // Self-closing means nothing to an HTML element, only to a void one or a foreign one.
      if (name == "svg" || name == "math") {
        if (!tag.selfClosing) open_.push_back({name, name == "svg" ? Space::svg : Space::math, 'f'});
      } else if (!isVoid(name)) {
        open_.push_back({name, Space::html, 'f'});
      }
      return;
    }
    if (open_.empty() || tag.selfClosing) return;
    // A foreign element takes the namespace of the one it is in.
    char holds = 'f';
    if (top.space == Space::svg && (name == "foreignobject" || name == "desc" || name == "title")) holds = 'h';
    if (top.space == Space::math && (name == "mi" || name == "mo" || name == "mn" || name == "ms" || name == "mtext"))
      holds = 't';
    if (top.space == Space::math && name == "annotation-xml") {
      const std::string encoding = lowered(trimmed(tag.attribute("encoding").value_or("")));
      holds = encoding == "text/html" || encoding == "application/xhtml+xml" ? 'h' : 'a';
    }
    open_.push_back({name, top.space, holds});
  }

  void closeForeign(std::string_view name) {
    if (openUnsure_ || open_.empty()) return;
    if (open_.back().space == Space::html) {
      // HTML rules for end tags: only the plain case, the element on top, is followed.
      if (open_.back().name == name) open_.pop_back();
      else openUnsure_ = true;
      return;
    }
    if (name == "br" || name == "p") {
      // These end tags leave foreign content too; then "</br>" is a <br> and "</p>" closes an
      // HTML p on top, or nothing when there is none.
      if (popForeignElements() && name == "p" && open_.back().space == Space::html) {
        if (open_.back().name == "p") open_.pop_back();
        else openUnsure_ = true;
      }
      return;
    }
    // A foreign end tag closes the nearest open element of its name, up to the first HTML one.
    for (std::size_t k = open_.size(); k-- > 0;) {
      if (open_[k].space == Space::html) {
        openUnsure_ = true;
        return;
      }
      if (open_[k].name == name) {
        open_.resize(k);
        return;
      }
    }
    // Nothing open inside matches; the parser may close something outside, which is left open.
  }

  // Pops the foreign elements down to an HTML element or one that holds HTML; whether any is
  // left open.
  bool popForeignElements() {
    while (!open_.empty() && open_.back().space != Space::html && open_.back().holds != 'h' &&
           open_.back().holds != 't')
      open_.pop_back();
    return !open_.empty();
  }

  // endTagFrom, searching each stretch of the document once per end tag: positions only grow.
  std::size_t endTag(std::string_view name, std::size_t from) {
    auto known = endTags_.find(name);
    if (known != endTags_.end() && known->second.first <= from && from <= known->second.second)
      return known->second.second;
    const std::size_t end = endTagFrom(html_, lower_, from, name);
    endTags_[std::string(name)] = {from, end};
    return end;
  }

  // An attribute value is never markup: its references are resolved once and it is read as
  // what the attribute holds.
  void value(const Tag& tag, const Attribute& a) {
    const std::string decoded = characterReferences(a.value);
    if (a.name == "style") return take(decoded, Context::style, true, true);
    if (a.name.size() > 2 && a.name.starts_with("on")) return take(decoded, Context::script, true, true);
    const std::string_view address = trimmed(decoded);
    if (a.name == "srcset" || a.name == "imagesrcset") {
      // Each candidate's address stands after a quote, as a lone value's does.
      for (std::size_t i = 0; i < address.size();) {
        while (i < address.size() && (isHTMLSpace(address[i]) || address[i] == ',')) ++i;
        std::size_t end = i;
        while (end < address.size() && !isHTMLSpace(address[end])) ++end;
        if (end > i) out_.text += (i > 0 ? "\" \"" : "") + std::string(address.substr(i, end - i));
        i = end;
      }
    } else {
      out_.text += address;
    }
    if (a.name == "srcdoc") out_.documents.push_back(decoded);
    const std::string lower = lowered(address);
    if (isFrame(tag.name) && lower.starts_with("data:") && !isRasterData(lower)) {
      const std::size_t end = address.find_first_of(" \t\n\r\f\"'<>)");
      out_.unread.emplace_back(address.substr(0, end));
    }
  }

  // `foreign`: the tag stands inside <svg> or <math>, or may.
  void afterStartTag(const Tag& tag, bool foreign) {
    const std::string& name = tag.name;
    if (name == "svg" || name == "math") return;
    constexpr std::array<std::string_view, 10> rawText{"script",   "style",    "xmp",      "iframe", "noembed",
                                                       "noframes", "noscript", "textarea", "title",  "plaintext"};
    if (std::find(rawText.begin(), rawText.end(), name) == rawText.end()) return;
    const bool code = name == "script" || name == "style";
    const Context context = name == "script" ? Context::script : Context::style;
    if (foreign) {
      // Inside <svg> or <math> such an element's text is markup or not depending on what the
      // parser holds open; only text that reads the same either way is taken. Where it holds
      // markup it is read on as markup.
      const std::size_t end = endTag(name, pos_);
      const std::string_view content = html_.substr(pos_, end - pos_);
      if (content.find('<') != std::string_view::npos || (code && content.find('&') != std::string_view::npos)) {
        std::string quoted = "<" + name + ">" + std::string(content.substr(0, 200));
        // The same text again (a tag repeated) is the same violation.
        if (out_.unread.empty() || out_.unread.back() != quoted) out_.unread.push_back(std::move(quoted));
      } else if (code) {
        take(content, context, false, false);
        pos_ = plainFrom_ = end;
      }
      return;
    }
    if (name == "plaintext") {
      pos_ = html_.size();
      return;
    }
    const std::size_t end = name == "script" ? scriptDataEnd(pos_) : endTag(name, pos_);
    const std::string_view content = html_.substr(pos_, end - pos_);
    if (name == "script") {
      const std::string type = lowered(trimmed(tag.attribute("type").value_or("")));
      const auto kind = scriptKind(type);
      take(content, Context::script, false, kind.has_value(), kind.value_or(CodeComments::ScriptKind::classic));
      pos_ = plainFrom_ = end;
    } else if (name == "style") {
      take(content, Context::style, false, true);
      pos_ = plainFrom_ = end;
    } else {
      pos_ = end;  // text, never markup; written out with what follows
    }
  }

  bool scriptTagAt(std::size_t p, bool closing) const {
    const std::string_view mark = closing ? "</script" : "<script";
    return lower_.compare(p, mark.size(), mark) == 0 && p + mark.size() < html_.size() &&
           endsTagName(html_[p + mark.size()]);
  }

  // Where the script element's text starting at `from` ends. Inside "<!--" a "<script" nests
  // until its own "</script", so a "<!--<script>" keeps the element open past a "</script>".
  std::size_t scriptDataEnd(std::size_t from) const {
    enum State { data, escaped, escapedDash, escapedDashDash, nested, nestedDash, nestedDashDash };
    State state = data;
    const std::size_t n = html_.size();
    std::size_t p = from;
    std::size_t nextCheck = from + stopStride;
    while (p < n) {
      if (p >= nextCheck) {
        checkpoint();
        nextCheck = p + stopStride;
      }
      if (state == data) {
        p = html_.find('<', p);
        if (p == std::string_view::npos) return n;
        if (scriptTagAt(p, true)) return p;
        if (html_.compare(p, 4, "<!--") == 0) {
          state = escapedDashDash;
          p += 4;
        } else {
          ++p;
        }
        continue;
      }
      const char c = html_[p];
      const bool inNested = state >= nested;
      if (c == '-') {
        state = inNested ? (state == nested ? nestedDash : nestedDashDash)
                         : (state == escaped ? escapedDash : escapedDashDash);
        ++p;
        continue;
      }
      if (c == '>' && (state == escapedDashDash || state == nestedDashDash)) {
        state = data;
        ++p;
        continue;
      }
      if (c == '<' && !inNested && scriptTagAt(p, true)) return p;
      if (c == '<' && !inNested && scriptTagAt(p, false)) {
        state = nested;
        p += 7;
        continue;
      }
      if (c == '<' && inNested && scriptTagAt(p, true)) {
        state = escaped;
        p += 8;
        continue;
      }
      state = inNested ? nested : escaped;
      ++p;
    }
    return n;
  }
};

}  // namespace

Decoded document(std::string_view html) { return Reader(html).read(); }

}  // namespace kestrane::EscapeDecoding
