// Any composition the model writes is scanned without a crash, and every reference the gate
// quotes is valid UTF-8 of at most 120 characters. The same bytes also pick a script of valid
// statements that trip comment readers up, with a call placed between two of them: that call
// is live code, so the gate must always refuse it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kestrane/graphics/ExternalResourceGate.hpp"
#include "kestrane/graphics/GraphicsText.hpp"

namespace {

constexpr std::array<std::string_view, 28> statements{
    "q = (a) / 2;",
    "s = '/';",
    "t = '//';",
    "u = \"/*\";",
    "v = '*/';",
    "t = `${'`'}`;",
    "w = `a${ {b: '}'}.b }//`;",
    "r = /[/]\\//g;",
    "if (a) /x/.test(s);",
    "x = a++ / 2;",
    "// note ' \" `\n",
    "/* block ' \" ` */",
    "m = {a: 1} / 2;",
    "function f() {}\n/re/.test(s);",
    "<!-- old ' comment\n",
    "\n--> closing ` comment\n",
    "s = 'it\\'s // not';",
    "a = b\n/ 2 / c;",
    "re = /'/;",
    "re = /\"/;",
    "re = /`/;",
    "x = o.return / 2 / 1;",
    "y = typeof /x/;",
    "z = `${`${'}'}`}`;",
    "n = i-- / 2;",
    "x = a\n++/x/.lastIndex;",
    "k = await / 2;",
    "if (a) {}\n/x/.test(s);",
};

bool refusesTheCall(const std::uint8_t* data, std::size_t size) {
  const std::size_t count = std::min<std::size_t>(size, 24);
  const std::size_t at = size == 0 ? 0 : data[0] % (count + 1);
  std::string program = "<script>";
  for (std::size_t k = 0; k <= count; ++k) {
    if (k == at) program += "\nfetch(\"https://x.example/\");\n";
    if (k < count) program += std::string(statements[data[k] % statements.size()]) + " ";
  }
  program += "</script>";
  for (const auto& v : kestrane::ExternalResourceGate::violations(program))
    if (v.description() == "runtime network call fetch(") return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const auto found = kestrane::ExternalResourceGate::violations(html);
  for (const auto& v : found)
    if (kestrane::GraphicsText::graphemeCount(v.reference) > 120) std::abort();
  (void)kestrane::ExternalResourceGate::failureReason(found);
  if (!refusesTheCall(data, size)) std::abort();
  return 0;
}
