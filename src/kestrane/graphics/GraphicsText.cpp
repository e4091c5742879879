#include "kestrane/graphics/GraphicsText.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/uregex.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include <fmt/format.h>

namespace kestrane::GraphicsText {

namespace {

bool isLineBreak(char32_t cp) { return (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 || cp == 0x2029; }

struct UTextCloser {
  void operator()(UText* t) const { utext_close(t); }
};
using UTextPtr = std::unique_ptr<UText, UTextCloser>;

UTextPtr openUtf8(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  UText* t = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  if (U_FAILURE(status)) return nullptr;
  return UTextPtr(t);
}

struct RegexCloser {
  void operator()(URegularExpression* r) const { uregex_close(r); }
};

}  // namespace

char32_t next(std::string_view text, std::size_t& pos) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  int32_t i = static_cast<int32_t>(pos);
  UChar32 cp;
  U8_NEXT(s, i, length, cp);
  pos = static_cast<std::size_t>(i);
  return cp < 0 ? 0xFFFD : static_cast<char32_t>(cp);
}

std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t at = pos;
    const char32_t cp = next(text, pos);
    if (!isLineBreak(cp)) continue;
    out.push_back(text.substr(start, at - start));
    if (cp == U'\r' && pos < text.size() && text[pos] == '\n') ++pos;
    start = pos;
  }
  out.push_back(text.substr(start));
  return out;
}

std::string_view trimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string_view trimSpace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t pos = begin;
    if (!u_isUWhiteSpace(static_cast<UChar32>(next(text, pos)))) break;
    begin = pos;
  }
  std::size_t end = text.size();
  while (end > begin) {
    // Step back to the start of the last code point.
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::size_t pos = start;
    if (!u_isUWhiteSpace(static_cast<UChar32>(next(text, pos)))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::string lower(std::string_view text) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  u.toLower(icu::Locale::getRoot());
  std::string out;
  u.toUTF8String(out);
  return out;
}

bool isAlphanumeric(char32_t cp) {
  const auto mask = U_GET_GC_MASK(static_cast<UChar32>(cp));
  return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool isNumeric(char32_t cp) { return (U_GET_GC_MASK(static_cast<UChar32>(cp)) & U_GC_N_MASK) != 0; }

std::vector<std::string_view> graphemes(std::string_view text) {
  std::vector<std::string_view> out;
  if (text.empty()) return out;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  UTextPtr ut = openUtf8(text);
  if (U_FAILURE(status) || !ut) {
    out.push_back(text);
    return out;
  }
  it->setText(ut.get(), status);
  int32_t start = it->first();
  for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
    out.push_back(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
  }
  return out;
}

std::size_t graphemeCount(std::string_view text) { return graphemes(text).size(); }

std::string_view prefixGraphemes(std::string_view text, std::size_t count) {
  const auto parts = graphemes(text);
  if (parts.size() <= count) return text;
  if (count == 0) return {};
  const std::string_view last = parts[count - 1];
  return text.substr(0, static_cast<std::size_t>(last.data() + last.size() - text.data()));
}

std::size_t findCaseless(std::string_view text, std::string_view needle, std::size_t from) {
  if (from > text.size()) return std::string_view::npos;
  UErrorCode status = U_ZERO_ERROR;
  UTextPtr pattern = openUtf8(needle);
  if (!pattern) return std::string_view::npos;
  std::unique_ptr<URegularExpression, RegexCloser> re(
      uregex_openUText(pattern.get(), UREGEX_CASE_INSENSITIVE | UREGEX_LITERAL, nullptr, &status));
  UTextPtr subject = openUtf8(text);
  if (U_FAILURE(status) || !subject) return std::string_view::npos;
  uregex_setUText(re.get(), subject.get(), &status);
  if (!uregex_find64(re.get(), static_cast<int64_t>(from), &status) || U_FAILURE(status)) {
    return std::string_view::npos;
  }
  return static_cast<std::size_t>(uregex_start64(re.get(), 0, &status));
}

std::string withoutControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t at = pos;
    const char32_t cp = next(text, pos);
    if (cp == U'\t' || isLineBreak(cp)) {
      out += ' ';
    } else if (u_charType(static_cast<UChar32>(cp)) != U_CONTROL_CHAR) {
      out.append(text.substr(at, pos - at));
    }
  }
  return out;
}

std::vector<Match> findAll(std::string_view pattern, std::string_view text, bool caseInsensitive) {
  std::vector<Match> out;
  UErrorCode status = U_ZERO_ERROR;
  UTextPtr pat = openUtf8(pattern);
  if (!pat) return out;
  std::unique_ptr<URegularExpression, RegexCloser> re(
      uregex_openUText(pat.get(), caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, nullptr, &status));
  if (U_FAILURE(status)) return out;
  UTextPtr subject = openUtf8(text);
  if (!subject) return out;
  uregex_setUText(re.get(), subject.get(), &status);
  const int32_t groups = uregex_groupCount(re.get(), &status);
  while (U_SUCCESS(status) && uregex_findNext(re.get(), &status)) {
    Match m;
    m.begin = static_cast<std::size_t>(uregex_start64(re.get(), 0, &status));
    m.end = static_cast<std::size_t>(uregex_end64(re.get(), 0, &status));
    for (int32_t g = 0; g <= groups; ++g) {
      const int64_t s = uregex_start64(re.get(), g, &status);
      const int64_t e = uregex_end64(re.get(), g, &status);
      if (s < 0 || e < s) {
        m.groups.emplace_back();
      } else {
        m.groups.emplace_back(text.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)));
      }
    }
    if (U_FAILURE(status)) break;
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<std::string> matchTexts(std::string_view pattern, std::string_view text, bool caseInsensitive) {
  std::vector<std::string> out;
  for (Match& m : findAll(pattern, text, caseInsensitive)) out.push_back(std::move(m.groups[0]));
  return out;
}

std::optional<double> number(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<long long> wholeNumber(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return std::nullopt;
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

long long roundedClamped(double value, double lo, double hi) {
  if (std::isnan(value)) return 0;
  return static_cast<long long>(std::round(std::clamp(value, lo, hi)));
}

std::string fixed(double value, int decimals) { return fmt::format("{:.{}f}", value, decimals); }

}  // namespace kestrane::GraphicsText
