#include "kestrane/ai/SecretRedaction.hpp"

#include <algorithm>
#include <cctype>
#include <tuple>
#include <utility>
#include <vector>

namespace kestrane::SecretRedaction {

namespace {

// Shorter values could be ordinary words; a real key is far longer.
constexpr std::size_t kShortestSecret = 8;
// "sk-" alone, or with a few characters, is just text.
constexpr std::size_t kShortestKeyBody = 8;

bool isTokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~' || c == '+' || c == '/' || c == '=';
}

bool isKeyChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '-' || c == '_';
}

// Tokens are long or carry digits; "bearer of news" is prose.
bool looksLikeToken(std::string_view word) {
  const bool digits = std::ranges::any_of(word, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  return word.size() >= 20 || (word.size() >= 8 && digits);
}

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != word[i]) return false;
  }
  return true;
}

char lowerAscii(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lowered(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), lowerAscii);
  return out;
}

bool isBase64Char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '-' || c == '_' || c == '=';
}

std::string base64(std::string_view bytes, bool urlSafe) {
  static constexpr char standard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static constexpr char url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  const char* table = urlSafe ? url : standard;
  std::string out;
  unsigned bits = 0;
  int held = 0;
  for (char c : bytes) {
    bits = (bits << 8) | static_cast<unsigned char>(c);
    held += 8;
    while (held >= 6) {
      held -= 6;
      out += table[(bits >> held) & 63];
    }
  }
  if (held > 0) out += table[(bits << (6 - held)) & 63];
  return out;
}

// The characters of the secret's base64 form that do not depend on the bytes around it, for
// each of the three offsets it can start at within the encoded text.
std::vector<std::string> base64Cores(std::string_view secret) {
  std::vector<std::string> cores;
  for (bool urlSafe : {false, true}) {
    for (std::size_t shift = 0; shift < 3; ++shift) {
      const std::string encoded = base64(std::string(shift, '\0') + std::string(secret), urlSafe);
      const std::size_t first = (8 * shift + 5) / 6;
      const std::size_t end = 8 * (shift + secret.size()) / 6;
      cores.push_back(encoded.substr(first, end - first));
    }
  }
  return cores;
}

// Replaces the spans [begin, end) found by `find` with kMark; `find` looks from a position.
template <class Find>
std::string replaceFound(std::string_view text, Find find) {
  std::string out;
  std::size_t from = 0;
  for (auto [begin, end] = find(from); begin != std::string_view::npos; std::tie(begin, end) = find(from)) {
    out.append(text.substr(from, begin - from)).append(kMark);
    from = end;
  }
  out.append(text.substr(from));
  return out;
}

using Span = std::pair<std::size_t, std::size_t>;
constexpr Span kNone{std::string_view::npos, std::string_view::npos};

std::string withoutSecret(std::string_view text, std::string_view secret) {
  const std::string caseless = lowered(text), wanted = lowered(secret);
  std::string out = replaceFound(text, [&](std::size_t from) -> Span {
    const std::size_t at = caseless.find(wanted, from);
    return at == std::string::npos ? kNone : Span{at, at + wanted.size()};
  });
  // An encoded secret goes with the whole encoded word around it.
  for (const std::string& core : base64Cores(secret)) {
    const std::string_view current = out;
    out = replaceFound(current, [&](std::size_t from) -> Span {
      std::size_t at = current.find(core, from);
      if (at == std::string_view::npos) return kNone;
      std::size_t end = at + core.size();
      while (at > from && isBase64Char(current[at - 1])) --at;
      while (end < current.size() && isBase64Char(current[end])) ++end;
      return {at, end};
    });
  }
  return out;
}

// Bearer tokens and vendor-shaped keys, found by their shape.
std::string withoutShapedTokens(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const bool wordStart = i == 0 || !isKeyChar(text[i - 1]);
    if (wordStart && startsWithNoCase(text, i, "bearer")) {
      std::size_t j = i + 6;
      while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
      std::size_t end = j;
      while (end < text.size() && isTokenChar(text[end])) ++end;
      if (j > i + 6 && looksLikeToken(text.substr(j, end - j))) {
        out.append(text.substr(i, j - i)).append(kMark);
        i = end;
        continue;
      }
    }
    if (wordStart && startsWithNoCase(text, i, "sk-")) {
      std::size_t end = i + 3;
      while (end < text.size() && isKeyChar(text[end])) ++end;
      if (end - (i + 3) >= kShortestKeyBody) {
        out.append(kMark);
        i = end;
        continue;
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The JSON escapes of printable ASCII characters other than the quote and the backslash
// written out; every other escape, an escaped backslash included, stays as it is.
std::string plainEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char next = text[i + 1];
    if (next == '/') {
      out.push_back('/');
      ++i;
      continue;
    }
    if (next == 'u' && i + 5 < text.size()) {
      int value = 0;
      for (std::size_t k = i + 2; k < i + 6 && value >= 0; ++k) {
        const int digit = hexValue(text[k]);
        value = digit < 0 ? -1 : value * 16 + digit;
      }
      if (value >= 0x20 && value < 0x7F && value != '"' && value != '\\') {
        out.push_back(static_cast<char>(value));
        i += 5;
        continue;
      }
    }
    out.append(text.substr(i, 2));
    ++i;
  }
  return out;
}

}  // namespace

std::string withoutSecretsInJson(std::string_view text, std::span<const std::string> secrets) {
  const std::string plain = plainEscapes(text);
  std::string out = withoutSecrets(plain, secrets);
  // Only a reply that held a secret is handed on in its plain spelling.
  return out == plain ? std::string(text) : out;
}

std::string withoutSecrets(std::string_view text, std::span<const std::string> secrets) {
  std::string out(text);
  for (const std::string& secret : secrets) {
    if (secret.size() >= kShortestSecret) out = withoutSecret(out, secret);
  }
  return out;
}

std::string redact(std::string_view text, std::span<const std::string> secrets) {
  return withoutShapedTokens(withoutSecrets(text, secrets));
}

}  // namespace kestrane::SecretRedaction
