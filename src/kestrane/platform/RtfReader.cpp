#include "kestrane/platform/RtfReader.hpp"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

namespace kestrane::platform {

namespace {

void appendUTF8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Windows-1252 differs from Latin-1 only in 0x80–0x9F.
std::uint32_t windows1252(unsigned char byte) {
  static const std::uint16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                         0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  if (byte >= 0x80 && byte <= 0x9F) return high[byte - 0x80];
  return byte;
}

bool isSkippedDestination(const std::string& word) {
  static const std::unordered_set<std::string> skipped = {"fonttbl",
                                                          "colortbl",
                                                          "stylesheet",
                                                          "info",
                                                          "pict",
                                                          "listtable",
                                                          "listoverridetable",
                                                          "revtbl",
                                                          "rsidtbl",
                                                          "generator",
                                                          "xmlnstbl",
                                                          "themedata",
                                                          "colorschememapping",
                                                          "latentstyles",
                                                          "datastore",
                                                          "header",
                                                          "headerl",
                                                          "headerr",
                                                          "headerf",
                                                          "footer",
                                                          "footerl",
                                                          "footerr",
                                                          "footerf",
                                                          "footnote",
                                                          "object",
                                                          "filetbl",
                                                          "mmathPr",
                                                          "pgdsctbl"};
  return skipped.count(word) > 0;
}

struct GroupState {
  bool skip = false;
  int unicodeSkip = 1;  // characters that stand in for each \uN
};

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::string run() {
    std::vector<GroupState> stack{GroupState{}};
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == '{') {
        stack.push_back(stack.back());
        ++i_;
      } else if (c == '}') {
        if (stack.size() > 1) stack.pop_back();
        ++i_;
      } else if (c == '\\') {
        controlWord(stack);
      } else if (c == '\r' || c == '\n') {
        ++i_;  // raw line breaks are formatting only
      } else {
        if (pendingSkip_ > 0) {
          --pendingSkip_;
        } else if (!stack.back().skip) {
          appendUTF8(out_, static_cast<unsigned char>(c) < 0x80 ? static_cast<unsigned char>(c)
                                                                : windows1252(static_cast<unsigned char>(c)));
        }
        ++i_;
      }
    }
    return out_;
  }

 private:
  void emit(std::uint32_t cp, const GroupState& g) {
    if (!g.skip) appendUTF8(out_, cp);
  }

  void controlWord(std::vector<GroupState>& stack) {
    GroupState& g = stack.back();
    ++i_;  // the backslash
    if (i_ >= s_.size()) return;
    const char c = s_[i_];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++i_;
      switch (c) {
        case '\\':
        case '{':
        case '}': consumeOr(c, g); break;
        case '~': consumeOr(0xA0, g); break;
        case '_': consumeOr(0x2011, g); break;
        case '-': break;  // optional hyphen
        case '*': g.skip = true; break;
        case '\'': {
          const std::string hex(s_.substr(i_, 2));
          i_ += std::min<std::size_t>(2, s_.size() - i_);
          const std::uint32_t cp = windows1252(static_cast<unsigned char>(std::strtoul(hex.c_str(), nullptr, 16)));
          consumeOr(cp, g);
          break;
        }
        case '\n':
        case '\r': consumeOr('\n', g); break;
        default: break;
      }
      return;
    }
    std::string word;
    while (i_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[i_]))) word.push_back(s_[i_++]);
    bool hasParam = false;
    long param = 0;
    if (i_ < s_.size() && (s_[i_] == '-' || std::isdigit(static_cast<unsigned char>(s_[i_])))) {
      const std::size_t start = i_;
      ++i_;
      while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
      param = std::strtol(std::string(s_.substr(start, i_ - start)).c_str(), nullptr, 10);
      hasParam = true;
    }
    if (i_ < s_.size() && s_[i_] == ' ') ++i_;  // the delimiter space belongs to the word

    if (word == "bin" && hasParam && param > 0) {
      i_ = std::min(s_.size(), i_ + static_cast<std::size_t>(param));
      return;
    }
    if (isSkippedDestination(word)) {
      g.skip = true;
      return;
    }
    if (word == "uc" && hasParam) {
      g.unicodeSkip = static_cast<int>(std::max(0L, param));
      return;
    }
    if (word == "u" && hasParam) {
      long cp = param < 0 ? param + 65536 : param;
      emit(static_cast<std::uint32_t>(cp), g);
      pendingSkip_ = g.unicodeSkip;
      return;
    }
    pendingSkip_ = 0;
    if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row") emit('\n', g);
    else if (word == "tab" || word == "cell") emit('\t', g);
    else if (word == "emdash") emit(0x2014, g);
    else if (word == "endash") emit(0x2013, g);
    else if (word == "bullet") emit(0x2022, g);
    else if (word == "lquote") emit(0x2018, g);
    else if (word == "rquote") emit(0x2019, g);
    else if (word == "ldblquote") emit(0x201C, g);
    else if (word == "rdblquote") emit(0x201D, g);
    else if (word == "emspace" || word == "enspace" || word == "qmspace") emit(' ', g);
  }

  // A character that may be one of the stand-ins after \uN.
  void consumeOr(std::uint32_t cp, const GroupState& g) {
    if (pendingSkip_ > 0) {
      --pendingSkip_;
      return;
    }
    emit(cp, g);
  }

  std::string_view s_;
  std::size_t i_ = 0;
  int pendingSkip_ = 0;
  std::string out_;
};

}  // namespace

std::optional<std::string> rtfPlainText(std::string_view rtf) {
  std::size_t start = 0;
  while (start < rtf.size() && std::isspace(static_cast<unsigned char>(rtf[start]))) ++start;
  if (rtf.substr(start, 5) != "{\\rtf") return std::nullopt;
  return Parser(rtf.substr(start)).run();
}

}  // namespace kestrane::platform
