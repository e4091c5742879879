#include "kestrane/model/JsonText.hpp"

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/FreeAside.hpp"
#include "kestrane/model/Utf8Text.hpp"

#include <fmt/format.h>

#include <cmath>
#include <stdexcept>

namespace kestrane::JsonText {

namespace {

void writeString(std::string& out, const std::string& s) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '/':
        out += "\\/";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '\b':
        out += "\\b";
        ++i;
        continue;
      case '\f':
        out += "\\f";
        ++i;
        continue;
      default: break;
    }
    if (c < 0x20) {
      out += fmt::format("\\u{:04x}", c);
      ++i;
      continue;
    }
    const std::size_t n = Utf8Text::sequenceLength(s, i);
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
      if (v.empty()) {
        out += "{}";
        return;
      }
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
      if (v.empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      for (std::size_t i = 0; i < v.size(); ++i) {
        // Lists of millions of words or edits take seconds to lay out; the job's stop is heard.
        if ((i + 1) % 4096 == 0) checkpoint();
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

void freeAside(nlohmann::json&& value) { kestrane::freeAside(std::move(value)); }

}  // namespace kestrane::JsonText
