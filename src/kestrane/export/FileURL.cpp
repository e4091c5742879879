#include "kestrane/export/FileURL.hpp"

#include <filesystem>
#include <system_error>

namespace kestrane::FileURL {

namespace {

bool staysAsIs(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/': return true;
    default: return false;
  }
}

}  // namespace

std::string encodedPath(std::string_view path) {
  std::string absolute(path);
  if (absolute.empty() || absolute.front() != '/') {
    std::error_code error;
    const auto made = std::filesystem::absolute(std::filesystem::path(absolute), error);
    if (!error) absolute = made.string();
  }
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(absolute.size() + 8);
  for (const char ch : absolute) {
    const auto c = static_cast<unsigned char>(ch);
    if (staysAsIs(c)) {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

std::string fromPath(std::string_view path) { return "file://" + encodedPath(path); }

}  // namespace kestrane::FileURL
