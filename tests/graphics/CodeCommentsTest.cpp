#include "kestrane/graphics/CodeComments.hpp"

#include <gtest/gtest.h>

using namespace kestrane;

namespace {

struct Row {
  const char* code;
  const char* blanked;
};

void expectRows(const std::vector<Row>& rows, std::string (*blank)(std::string_view)) {
  for (const Row& row : rows) {
    const std::string out = blank(row.code);
    EXPECT_EQ(out, row.blanked) << row.code;
    EXPECT_EQ(out.size(), std::string_view(row.code).size()) << row.code;
  }
}

}  // namespace

// Only what the script parser reads as a comment goes; strings, templates and regular
// expressions that hold comment marks stay whole, and so does a line whose slash is unclear.
TEST(CodeComments, ScriptCommentsAreBlankedAndNothingElse) {
  expectRows(
      {
          {"a(); // note\nb();", "a();        \nb();"},
          {"a(); /* x\ny */ b();", "a();     \n     b();"},
          {"s = \"//x\"; t = '/*'; // c", "s = \"//x\"; t = '/*';     "},
          {"u = `a${b}//c`; // d", "u = `a${b}//c`;     "},
          {"r = /\\/\\//; // e", "r = /\\/\\//;     "},
          {"r = /[/]/g; // f", "r = /[/]/g;     "},
          {"x = a / b; // g", "x = a / b;     "},
          {"if (a) /\"/.test(s); u = \"//h\" // i", "if (a) /\"/.test(s); u = \"//h\"     "},
          {"q = (a) / 2; // j", "q = (a) / 2;     "},
          {"return /x/; /* k", "return /x/;     "},
          // Template substitutions nest, and quotes inside them belong to them.
          {"t = `${'`'}`; u = '//'; f(); // l", "t = `${'`'}`; u = '//'; f();     "},
          {"z = `${`${'}'}`}`; // m", "z = `${`${'}'}`}`;     "},
          // Classic scripts read "<!--" anywhere and "-->" opening a line as line comments.
          {"x = 1 <!-- ' n\ny();", "x = 1         \ny();"},
          {"a();\n /**/ --> ` o\nb();", "a();\n             \nb();"},
          // An unsure slash: only what the division and the regular expression both blank goes.
          {"r = i++ / 2; // p https://e.x/", "r = i++ / 2; // p https:      "},
          // A comment leaves what comes next as it was: a statement head, a property, an operand.
          {"if /**/ (a) /'/.test(s); t = '//'; f(); // q", "if      (a) /'/.test(s); t = '//'; f();     "},
          {"x = o./**/return / 2; s2 = '/'; t = '//'; f(); // r",
           "x = o.    return / 2; s2 = '/'; t = '//'; f();     "},
          {"x = a <!-- s\n/ 2; t = '//'; f(); // t", "x = a       \n/ 2; t = '//'; f();     "},
          {"#!x\ntypeof /'/; t = '//'; f(); // u", "   \ntypeof /'/; t = '//'; f();     "},
          // Keywords an expression follows; yield, await and of are names in some scripts, so
          // both readings are followed after them.
          {"class A extends /'/.constructor {}; t = '//'; f(); // v",
           "class A extends /'/.constructor {}; t = '//'; f();     "},
          {"function* g() { yield /'/; } t = '//'; f(); // w", "function* g() { yield /'/; } t = '//'; f();     "},
          {"async function h() { await /\"/; } u = \"//\"; f(); // x",
           "async function h() { await /\"/; } u = \"//\"; f();     "},
          {"for (const m of /'/.exec(s) || []) {} t = '//'; f(); // y",
           "for (const m of /'/.exec(s) || []) {} t = '//'; f();     "},
          {"if (a) {} /'/.test(s); t = '//'; f(); // z", "if (a) {} /'/.test(s); t = '//'; f();     "},
          // A line break ends debugger, continue and break: the slash after it opens a regular
          // expression.
          {"while (a) { break\n/'/.test(s); } t = '//'; f(); // aa",
           "while (a) { break\n/'/.test(s); } t = '//'; f();      "},
          {"for (;;) { continue\n/\"/.test(s); } u = \"//\"; f(); // ab",
           "for (;;) { continue\n/\"/.test(s); } u = \"//\"; f();      "},
          {"debugger\n/`/.test(s); w = `//`; f(); // ac", "debugger\n/`/.test(s); w = `//`; f();      "},
          // So does the label after a break or continue; a name on the next line is no label.
          {"a: while (b) { break a\n/'/.test(s); } t = '//'; f(); // ad",
           "a: while (b) { break a\n/'/.test(s); } t = '//'; f();      "},
          {"while (b) { break\na / 2 / c; } t = '//'; f(); // ae",
           "while (b) { break\na / 2 / c; } t = '//'; f();      "},
          {"while (b) { break\na / 2 // af\n}", "while (b) { break\na / 2      \n}"},
      },
      [](std::string_view code) { return CodeComments::blankedScript(code); });
}

// A module reads no HTML-like comments, and what follows "export default" is an expression.
TEST(CodeComments, ModulesKeepHTMLCommentMarks) {
  EXPECT_EQ(CodeComments::blankedScript("a = b <!--c;\n--> d", CodeComments::ScriptKind::module),
            "a = b <!--c;\n--> d");
  EXPECT_EQ(CodeComments::blankedScript("export default /'/; t = '//'; f(); // e", CodeComments::ScriptKind::module),
            "export default /'/; t = '//'; f();     ");
}

// A word in a sentence or a list is no name the script uses, so the text of plain strings and
// templates goes from the names; a literal that can name what runs stays, and so does one the
// readings disagree on.
TEST(CodeComments, ProseInLiteralsIsBlankedFromTheNames) {
  expectRows(
      {
          {"w = [\"Teach\",\"dog\",'fetch']; // c", "w = [\"     \",\"   \",'     '];     "},
          {"s = \"see the fetch (x) guide\"; t = `a ${fetch} b`;",
           "s = \"                       \"; t = `  ${fetch}  `;"},
          {"window[\"fetch\"](u); o[k ? 'fetch' : 'x'];", "window[\"fetch\"](u); o[k ? 'fetch' : 'x'];"},
          {"setTimeout(\"fetch (u)\", 0); new Function('a', `fetch (a)`);",
           "setTimeout(\"fetch (u)\", 0); new Function('a', `fetch (a)`);"},
          {"x = a++ / \"fetch (u)\" / 2;", "x = a++ / \"fetch (u)\" / 2;"},
      },
      [](std::string_view code) { return CodeComments::blankedScriptAndProse(code).names; });
}

TEST(CodeComments, StyleCommentsAreBlankedOutsideStringsAndAddresses) {
  expectRows(
      {
          {"a{} /* x */ b{}", "a{}         b{}"},
          {"a{content:\"/* no */\"}", "a{content:\"/* no */\"}"},
          {"i{background:url(//h/*/x.png)} /**/", "i{background:url(//h/*/x.png)}     "},
          {"i{background:URL( '/*' )} /* y", "i{background:URL( '/*' )}     "},
          {"a{b:\\/*c}", "a{b:\\/*c}"},  // an escaped slash opens no comment
          {"i{background:\\75rl(//h/*/x.png)} /**/", "i{background:\\75rl(//h/*/x.png)}     "},
      },
      CodeComments::blankedStyle);
}
