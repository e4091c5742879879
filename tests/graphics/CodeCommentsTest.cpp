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
      },
      [](std::string_view code) { return CodeComments::blankedScript(code); });
}

// A module reads no HTML-like comments.
TEST(CodeComments, ModulesKeepHTMLCommentMarks) {
  EXPECT_EQ(CodeComments::blankedScript("a = b <!--c;\n--> d", CodeComments::ScriptKind::module),
            "a = b <!--c;\n--> d");
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
