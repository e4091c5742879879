// Valid script statements that trip comment readers up (slashes that divide or open a regular
// expression, quotes inside templates and inside regular expressions a reader may take for a
// division, comments between tokens, HTML-like comments), and a script of them with a live call
// placed between two on the same line: the gate must refuse that call whatever surrounds it.
// Shared by the gate's unit test and its fuzz target.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane::test {

inline constexpr std::array<std::string_view, 42> trickyStatements{
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
    "if (a) {} /'/.test(s);",
    "y = a\n++/\"/.lastIndex;",
    "function* g() { yield /'/; }",
    "async function h() { await /\"/; }",
    "for (const m of /`/.exec(s) || []) {}",
    "if /**/ (a) /'/.test(s);",
    "x = o./**/return / 2; s2 = '/';",
    "(class extends /'/.constructor {});",
    "b = c <!-- note\n/ 2;",
    "while (a) { break\n/'/.test(s); }",
    "for (;;) { continue\n/\"/.test(s); }",
    "debugger\n/`/.test(s);",
    "outer: while (a) { break outer\n/'/.test(s); }",
    "inner: for (;;) { continue inner\n/\"/.test(s); }",
};

// Each quote and comment mark that a misread quote before it could pair with, then the call:
// a reader that opens a string or a template too early takes the call for a comment.
inline constexpr std::string_view kLiveCall = "t = '//'; u = \"//\"; w = `//`; fetch (\"https://x.example/\"); ";

// `count` statements, each chosen by pick(k), with the live call before statement `at` (after
// the last when `at` == `count`).
template <typename Pick>
std::string scriptWithLiveCall(std::size_t count, std::size_t at, Pick pick) {
  std::string program;
  for (std::size_t k = 0; k <= count; ++k) {
    if (k == at) program += kLiveCall;
    if (k < count) program += std::string(trickyStatements[pick(k) % trickyStatements.size()]) + " ";
  }
  return program;
}

}  // namespace kestrane::test
