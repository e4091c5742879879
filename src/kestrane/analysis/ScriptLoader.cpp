#include "kestrane/analysis/ScriptLoader.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>

#include "kestrane/analysis/MarkdownScript.hpp"
#include "kestrane/platform/PdfText.hpp"
#include "kestrane/platform/RtfReader.hpp"

namespace kestrane::ScriptLoader {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> readBytes(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  const auto size = fs::file_size(path, ec);
  if (ec || size > kMaxScriptBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// Length of the well-formed UTF-8 sequence at `i`, or the length of its maximal ill-formed
// prefix as a negative number (at least 1 byte).
int sequenceAt(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  int length = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) length = 2;
  else if (b0 == 0xE0) length = 3, lo = 0xA0;
  else if (b0 >= 0xE1 && b0 <= 0xEC) length = 3;
  else if (b0 == 0xED) length = 3, hi = 0x9F;
  else if (b0 >= 0xEE && b0 <= 0xEF) length = 3;
  else if (b0 == 0xF0) length = 4, lo = 0x90;
  else if (b0 >= 0xF1 && b0 <= 0xF3) length = 4;
  else if (b0 == 0xF4) length = 4, hi = 0x8F;
  else return -1;
  for (int k = 1; k < length; ++k) {
    if (i + k >= s.size()) return -k;
    const unsigned char b = byte(i + k);
    const unsigned char low = k == 1 ? lo : 0x80, high = k == 1 ? hi : 0xBF;
    if (b < low || b > high) return -k;
  }
  return length;
}

bool blank(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (!std::isspace(c)) return false;
      ++i;
      continue;
    }
    const int n = sequenceAt(text, i);
    if (n < 2) return false;
    // Decode to test the Unicode white space that editors leave behind (no-break spaces etc).
    std::uint32_t cp = c & (0xFF >> (n + 1));
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const bool space = cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 ||
                       cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
    if (!space) return false;
    i += static_cast<std::size_t>(n);
  }
  return true;
}

std::string fileName(const std::string& url) { return fs::path(url).filename().string(); }

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

struct CharacterCounts {
  std::size_t total = 0;
  std::size_t replaced = 0;  // U+FFFD
  std::size_t binary = 0;    // NUL and control characters other than line and tab breaks
};

CharacterCounts countCharacters(const std::string& text) {
  CharacterCounts counts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    ++counts.total;
    if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f' && c != '\v') ++counts.binary;
    if (c == 0x7F) ++counts.binary;
    if (text.compare(i, kReplacement.size(), kReplacement) == 0) ++counts.replaced;
  }
  return counts;
}

// Text that is more than 30 % unreadable characters was never a script.
bool looksBinary(const CharacterCounts& counts) { return (counts.replaced + counts.binary) * 10 > counts.total * 3; }

}  // namespace

const std::set<std::string>& scriptExtensions() {
  static const std::set<std::string> extensions = {"txt", "md", "text", "fountain", "rtf", "pdf"};
  return extensions;
}

std::string decodeUTF8Lossy(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const int n = sequenceAt(bytes, i);
    if (n > 0) {
      out.append(bytes, i, static_cast<std::size_t>(n));
      i += static_cast<std::size_t>(n);
    } else {
      out += "\xEF\xBF\xBD";
      i += static_cast<std::size_t>(-n);
    }
  }
  return out;
}

LoadedScript loadScript(const std::string& url) {
  std::string extension = fs::path(url).extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string name = fileName(url);

  LoadedScript loaded;
  std::string& text = loaded.text;
  std::size_t replacedBefore = 0;
  if (extension == "pdf") {
    std::error_code ec;
    const auto size = fs::file_size(url, ec);
    if (ec || size > kMaxScriptBytes) throw ScriptError::unreadable(name);
    const auto pages = platform::pdfPageTexts(url);
    if (!pages) throw ScriptError::unreadable(name);
    bool first = true;
    for (const auto& page : *pages) {
      if (!page) continue;
      if (!first) text += '\n';
      text += *page;
      first = false;
    }
  } else if (extension == "rtf") {
    const auto bytes = readBytes(url);
    if (!bytes) throw ScriptError::unreadable(name);
    const auto plain = platform::rtfPlainText(*bytes);
    if (!plain) throw ScriptError::unreadable(name);
    text = *plain;
  } else {
    const auto bytes = readBytes(url);
    if (!bytes) throw ScriptError::unreadable(name);
    replacedBefore = countCharacters(*bytes).replaced;
    text = decodeUTF8Lossy(*bytes);
  }
  const CharacterCounts counts = countCharacters(text);
  if (looksBinary(counts)) throw ScriptError::notText(name);
  if (counts.replaced > replacedBefore) {
    const std::size_t n = counts.replaced - replacedBefore;
    loaded.notice = name + " is not UTF-8 text: " + std::to_string(n) + " character" + (n == 1 ? "" : "s") +
                    " could not be read and " + (n == 1 ? "was" : "were") +
                    " replaced — save it as UTF-8 for an exact match";
  }
  if (extension == "md") text = MarkdownScript::spokenText(text);
  if (blank(text)) throw ScriptError::noText(name);
  return loaded;
}

std::string load(const std::string& url) { return loadScript(url).text; }

}  // namespace kestrane::ScriptLoader
