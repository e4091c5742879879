#include "kestrane/model/JsonText.hpp"

#include <fmt/format.h>

#include <cmath>
#include <stdexcept>

namespace kestrane::JsonText {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not valid.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) { n = 2; cp = c & 0x1F; }
  else if ((c & 0xF0) == 0xE0) { n = 3; cp = c & 0x0F; }
  else if ((c & 0xF8) == 0xF0) { n = 4; cp = c & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void writeString(std::string& out, const std::string& s) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '/': out += "\\/"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      default: break;
    }
    if (c < 0x20) {
      out += fmt::format("\\u{:04x}", c);
      ++i;
      continue;
    }
    const std::size_t n = utf8Length(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  out += '"';
}

void write(std::string& out, const nlohmann::json& v, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  const std::string inner(static_cast<std::size_t>(depth + 1) * 2, ' ');
  switch (v.type()) {
    case nlohmann::json::value_t::object: {
      if (v.empty()) { out += "{}"; return; }
      out += "{\n";
      bool first = true;
      for (const auto& [key, value] : v.items()) {  // std::map: keys already in byte order
        if (!first) out += ",\n";
        first = false;
        out += inner;
        writeString(out, key);
        out += " : ";
        write(out, value, depth + 1);
      }
      out += "\n" + indent + "}";
      return;
    }
    case nlohmann::json::value_t::array: {
      if (v.empty()) { out += "[]"; return; }
      out += "[\n";
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (i > 0) out += ",\n";
        out += inner;
        write(out, v[i], depth + 1);
      }
      out += "\n" + indent + "]";
      return;
    }
    case nlohmann::json::value_t::string: writeString(out, v.get_ref<const std::string&>()); return;
    case nlohmann::json::value_t::boolean: out += v.get<bool>() ? "true" : "false"; return;
    case nlohmann::json::value_t::number_integer: out += fmt::format("{}", v.get<std::int64_t>()); return;
    case nlohmann::json::value_t::number_unsigned: out += fmt::format("{}", v.get<std::uint64_t>()); return;
    case nlohmann::json::value_t::number_float: {
      const double d = v.get<double>();
      if (!std::isfinite(d)) throw std::domain_error("a number is not finite");
      out += fmt::format("{}", d);  // shortest text that reads back to the same double
      return;
    }
    case nlohmann::json::value_t::null: out += "null"; return;
    default: throw std::domain_error("unsupported JSON value");
  }
}

}  // namespace

std::string pretty(const nlohmann::json& value) {
  std::string out;
  write(out, value, 0);
  return out;
}

}  // namespace kestrane::JsonText
