#include "kestrane/ai/SecretRedaction.hpp"

#include <algorithm>
#include <cctype>

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

std::string withoutSecret(std::string_view text, std::string_view secret) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find(secret); at != std::string_view::npos; at = text.find(secret, from)) {
    out.append(text.substr(from, at - from)).append(kMark);
    from = at + secret.size();
  }
  out.append(text.substr(from));
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

}  // namespace

std::string redact(std::string_view text, std::span<const std::string> secrets) {
  std::string out(text);
  for (const std::string& secret : secrets) {
    if (secret.size() >= kShortestSecret) out = withoutSecret(out, secret);
  }
  return withoutShapedTokens(out);
}

}  // namespace kestrane::SecretRedaction
