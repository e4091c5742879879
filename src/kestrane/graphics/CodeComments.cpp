#include "kestrane/graphics/CodeComments.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <vector>

#include "kestrane/graphics/EscapeDecoding.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::CodeComments {
namespace {

// How often a long scan looks for a stop.
constexpr std::size_t stopStride = 64 * 1024;
// Past these the readings are not told apart any more and the rest stays unblanked.
constexpr std::size_t maxReadings = 8;
constexpr std::size_t maxNesting = 256;
// Comments (and literals) one reading keeps while the readings disagree; later ones are left
// unblanked.
constexpr std::size_t maxPending = 64;

struct Span {
  std::size_t from = 0;
  std::size_t to = 0;
};

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

// U+2028 and U+2029 end a line of script as a line feed does.
bool isWideLineBreak(std::string_view s, std::size_t i) {
  return i + 2 < s.size() && s[i] == '\xE2' && s[i + 1] == '\x80' && (s[i + 2] == '\xA8' || s[i + 2] == '\xA9');
}

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; }

char at(std::string_view s, std::size_t i) { return i < s.size() ? s[i] : '\0'; }

// Blanks out[from, to) but for line breaks.
void blank(std::string& out, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < out.size(); ++i)
    if (!isLineBreak(out[i])) out[i] = ' ';
}

// The chars of `a` that `b` holds too; both sorted and disjoint.
std::vector<Span> common(const std::vector<Span>& a, const std::vector<Span>& b) {
  std::vector<Span> out;
  for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    const std::size_t from = std::max(a[i].from, b[j].from), to = std::min(a[i].to, b[j].to);
    if (from < to) out.push_back({from, to});
    (a[i].to < b[j].to ? i : j)++;
  }
  return out;
}

// ---- Script ----

enum class Mode : std::uint8_t { code, quoted, templated, regex, regexClass, lineComment, blockComment };
// What a slash at this point of the code is: the start of a regular expression, a division, or
// either (after ")" of an unknown kind, "}", "++", "yield"...).
enum class Goal : std::uint8_t { regex, divide, unsure };

// One way of reading the script so far.
struct Reading {
  Mode mode = Mode::code;
  Goal goal = Goal::regex;
  char quote = 0;
  std::uint8_t skip = 0;    // characters a look-ahead has already read
  bool escaped = false;     // the next character is escaped
  bool lineStart = true;    // only blanks and comments since the line began: "-->" is a comment
  bool blockBroke = false;  // the block comment being read spans a line break
  bool afterDot = false;    // a name here is a property, never a keyword
  bool property = false;    // the name being read is a property
  bool oddWord = false;     // the name being read holds an escape or a non-ASCII character
  bool afterJump = false;   // a name here, on the line of a break or continue, is its label
  // What a "(" here opens: 'c' a statement head, 'p' an expression, 'e' the arguments of a call
  // that runs a string as script (eval, setTimeout...), '?' unsure.
  char paren = 'p';
  bool keepLiteral = false;  // the literal being read may name what runs: never blanked as prose
  std::string word;          // the name being read, its first 12 characters
  // Open brackets: '{', '[' (an array), 'x' (a computed member, o["name"]), '$' (a template's
  // ${), and '(' as 'c', 'p', 'e' or '?'.
  std::string nesting;
  std::size_t commentFrom = 0;
  std::size_t literalFrom = 0;
  std::vector<Span> pending;  // comments read while other readings were alive
  std::vector<Span> prose;    // the text of string and template literals, likewise
  bool dead = false;

  // Where a comment or a literal began matters only while one is being read.
  bool sameState(const Reading& o) const {
    const bool inComment = mode == Mode::lineComment || mode == Mode::blockComment;
    const bool inLiteral = mode == Mode::quoted || mode == Mode::templated;
    return mode == o.mode && goal == o.goal && quote == o.quote && skip == o.skip && escaped == o.escaped &&
           lineStart == o.lineStart && blockBroke == o.blockBroke && afterDot == o.afterDot && property == o.property &&
           oddWord == o.oddWord && afterJump == o.afterJump && paren == o.paren &&
           (!inComment || commentFrom == o.commentFrom) &&
           (!inLiteral || (literalFrom == o.literalFrom && keepLiteral == o.keepLiteral)) &&
           nesting.size() == o.nesting.size() && word == o.word && nesting == o.nesting;
  }
  void comment(std::size_t from) {
    mode = Mode::lineComment;
    commentFrom = from;
  }
  void record(std::size_t to) {
    if (pending.size() < maxPending) pending.push_back({commentFrom, to});
  }
  // A literal's text starts at `from`. Inside a computed member or the arguments of a call that
  // runs a string, or where that is unsure, it is kept: "fetch" there names a call.
  void openLiteral(std::size_t from) {
    literalFrom = from;
    keepLiteral = !nesting.empty() && std::string_view("xe?").find(nesting.back()) != std::string_view::npos;
  }
  void recordLiteral(std::size_t to) {
    if (!keepLiteral && to > literalFrom && prose.size() < maxPending) prose.push_back({literalFrom, to});
  }
};

enum class Step { alive, dead, fork, giveUp };

// Keywords after which an expression starts, so a slash opens a regular expression
// ("export default /x/", "class A extends /x/.constructor {}"). After debugger, continue and
// break a line break ends the statement, so a slash on the next line opens one too
// ("break\n/x/.test(s)"); a slash after them on the same line is no valid script at all. So it
// is after the label of a break or continue ("break outer\n/x/.test(s)").
constexpr std::array<std::string_view, 16> regexKeywords{"return",  "typeof",   "instanceof", "in",   "new", "delete",
                                                         "void",    "throw",    "case",       "else", "do",  "extends",
                                                         "default", "debugger", "continue",   "break"};
constexpr std::array<std::string_view, 4> statementHeads{"if", "while", "for", "with"};
// Keywords in some scripts and plain names in others: "yield / 2" divides where yield is a
// name, "yield /x/" yields a regular expression in a generator. A module reserves yield and
// await.
constexpr std::array<std::string_view, 3> contextualKeywords{"yield", "await", "of"};
constexpr std::array<std::string_view, 2> moduleKeywords{"yield", "await"};
// Calls that run a string as script: their string arguments are code, never prose.
constexpr std::array<std::string_view, 5> stringRunners{"eval", "setTimeout", "setInterval", "Function", "execScript"};

bool oneOf(std::string_view word, auto list) { return std::find(list.begin(), list.end(), word) != list.end(); }

void endWord(Reading& r, bool classic) {
  const bool keyword = !r.property && !r.oddWord;
  const bool label = r.afterJump && !r.property;
  r.afterJump = false;
  r.paren = !r.oddWord && oneOf(r.word, stringRunners) ? 'e' : 'p';
  if (keyword && !classic && oneOf(r.word, moduleKeywords)) {
    r.goal = Goal::regex;
    r.paren = '?';  // "for await (" heads a statement
  } else if (r.oddWord || (keyword && oneOf(r.word, contextualKeywords))) {
    r.goal = Goal::unsure;
    r.paren = '?';
  } else if (keyword && oneOf(r.word, regexKeywords)) {
    r.goal = Goal::regex;
  } else {
    r.goal = Goal::divide;
    if (keyword && oneOf(r.word, statementHeads)) r.paren = 'c';
  }
  if (label) {
    r.goal = Goal::regex;
  } else if (keyword && (r.word == "break" || r.word == "continue")) {
    r.afterJump = true;
  }
  r.word.clear();
  r.oddWord = r.property = false;
}

Step push(Reading& r, char kind) {
  if (r.nesting.size() >= maxNesting) return Step::giveUp;
  r.nesting.push_back(kind);
  r.goal = Goal::regex;
  return Step::alive;
}

Step codeStep(Reading& r, std::string_view s, std::size_t i, bool classic, bool wideBreak) {
  const char c = s[i];
  const char next = at(s, i + 1);
  const bool wordByte = !wideBreak && (isWordChar(c) || c == '\\' || static_cast<unsigned char>(c) >= 0x80);
  if (wordByte) {
    if (r.word.empty()) {
      r.property = r.afterDot;
      // A line break ends a break or continue: a name on the next line is no label.
      if (r.lineStart) r.afterJump = false;
      r.afterDot = r.lineStart = false;
    }
    if (r.word.size() < 12) r.word.push_back(c);
    if (!isWordChar(c)) r.oddWord = true;
    return Step::alive;
  }
  if (!r.word.empty()) endWord(r, classic);
  if (wideBreak || isLineBreak(c)) {
    r.lineStart = true;
    if (wideBreak) r.skip = 2;
    return Step::alive;
  }
  if (c == ' ' || c == '\t' || c == '\v' || c == '\f') return Step::alive;

  // A comment is white space: what the code around it means stays as it was.
  if (c == '/' && next == '*') {
    r.mode = Mode::blockComment;
    r.commentFrom = i;
    r.blockBroke = false;
    r.skip = 1;
    return Step::alive;
  }
  if ((c == '/' && next == '/') || (classic && s.compare(i, 4, "<!--") == 0) ||
      (classic && r.lineStart && s.compare(i, 3, "-->") == 0) || (i == 0 && c == '#' && next == '!')) {
    r.comment(i);
    return Step::alive;
  }

  const char paren = r.paren;
  r.lineStart = r.afterDot = r.afterJump = false;
  r.paren = 'p';
  switch (c) {
    case '"':
    case '\'':
      r.mode = Mode::quoted;
      r.quote = c;
      r.openLiteral(i + 1);
      return Step::alive;
    case '`':
      r.mode = Mode::templated;
      r.openLiteral(i + 1);
      return Step::alive;
    case '/':
      if (r.goal == Goal::regex) {
        r.mode = Mode::regex;
      } else {
        const bool unsure = r.goal == Goal::unsure;
        r.goal = Goal::regex;  // what follows a division
        if (unsure) return Step::fork;
      }
      return Step::alive;
    case '-':
    case '+':
      if (next == c) {
        r.goal = Goal::unsure;  // "a++ / b" divides, "a\n++/x/.lastIndex" does not
        r.skip = 1;
      } else {
        r.goal = Goal::regex;
      }
      return Step::alive;
    case '#': r.afterDot = true; return Step::alive;  // a private name
    case '.':
      if (next == '.' && at(s, i + 2) == '.') {
        r.skip = 2;
      } else {
        r.afterDot = true;
      }
      r.goal = Goal::regex;
      return Step::alive;
    case '{': return push(r, '{');
    case '(': return push(r, paren);
    // After an operand "[" reads a member, and a string in it names one.
    case '[': return push(r, r.goal == Goal::regex ? '[' : 'x');
    case '}':
    case ')':
    case ']': {
      if (r.nesting.empty()) return Step::dead;
      const char open = r.nesting.back();
      r.nesting.pop_back();
      if (c == ']') {
        r.goal = Goal::divide;
        return open == '[' || open == 'x' ? Step::alive : Step::dead;
      }
      if (c == '}') {
        if (open == '$') {
          r.mode = Mode::templated;
          r.openLiteral(i + 1);
        }
        r.goal = Goal::unsure;  // a block or an object literal
        return open == '$' || open == '{' ? Step::alive : Step::dead;
      }
      if (open != 'c' && open != 'p' && open != 'e' && open != '?') return Step::dead;
      r.goal = open == 'c' ? Goal::regex : open == '?' ? Goal::unsure : Goal::divide;
      return Step::alive;
    }
    default: r.goal = Goal::regex; return Step::alive;
  }
}

Step step(Reading& r, std::string_view s, std::size_t i, bool classic) {
  if (r.skip > 0) {
    --r.skip;
    return Step::alive;
  }
  const char c = s[i];
  const bool wideBreak = isWideLineBreak(s, i);
  const bool lineBreak = wideBreak || isLineBreak(c);
  switch (r.mode) {
    case Mode::code: return codeStep(r, s, i, classic, wideBreak);
    case Mode::lineComment:
      if (lineBreak) {
        r.record(i);
        r.mode = Mode::code;
        r.lineStart = true;
        if (wideBreak) r.skip = 2;
      }
      return Step::alive;
    case Mode::blockComment:
      if (lineBreak) {
        r.blockBroke = true;
      } else if (c == '*' && at(s, i + 1) == '/') {
        r.record(i + 2);
        r.mode = Mode::code;
        r.skip = 1;
        if (r.blockBroke) r.lineStart = true;
      }
      return Step::alive;
    case Mode::quoted:
      if (r.escaped) {
        r.escaped = false;
        if (c == '\r' && at(s, i + 1) == '\n') r.skip = 1;
      } else if (c == '\\') {
        r.escaped = true;
      } else if (c == r.quote) {
        r.recordLiteral(i);
        r.mode = Mode::code;
        r.goal = Goal::divide;
      } else if (isLineBreak(c)) {
        return Step::dead;  // a string cannot run over a line
      }
      return Step::alive;
    case Mode::templated:
      if (r.escaped) {
        r.escaped = false;
      } else if (c == '\\') {
        r.escaped = true;
      } else if (c == '`') {
        r.recordLiteral(i);
        r.mode = Mode::code;
        r.goal = Goal::divide;
      } else if (c == '$' && at(s, i + 1) == '{') {
        r.recordLiteral(i);
        r.skip = 1;
        r.mode = Mode::code;
        return push(r, '$');
      }
      return Step::alive;
    case Mode::regex:
    case Mode::regexClass:
      if (lineBreak) return Step::dead;  // neither may a regular expression
      if (r.escaped) {
        r.escaped = false;
      } else if (c == '\\') {
        r.escaped = true;
      } else if (r.mode == Mode::regexClass) {
        if (c == ']') r.mode = Mode::regex;
      } else if (c == '[') {
        r.mode = Mode::regexClass;
      } else if (c == '/') {
        r.mode = Mode::code;
        r.goal = Goal::divide;
      }
      return Step::alive;
  }
  return Step::alive;
}

// ---- CSS ----

// Past the string opened by the quote at `at`: its closing quote, or the line break or end that
// cuts it off. A backslash carries the next character, a line break too.
std::size_t stringEnd(std::string_view text, std::size_t at) {
  const char quote = text[at];
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == quote) {
      return i + 1;
    } else if (isLineBreak(text[i])) {
      return i;
    }
  }
  return text.size();
}

// Past the block comment opened at `at`; a comment never closed runs to the end.
std::size_t blockCommentEnd(std::string_view text, std::size_t at) {
  const std::size_t close = text.find("*/", at + 2);
  return close == std::string_view::npos ? text.size() : close + 2;
}

bool isCSSNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool startsEscape(std::string_view css, std::size_t i) {
  return css[i] == '\\' && i + 1 < css.size() && !isLineBreak(css[i + 1]) && css[i + 1] != '\f';
}

// Past the name (an identifier, a number's unit, a hash or an at-keyword's name) at `at`,
// escapes included.
std::size_t nameEnd(std::string_view css, std::size_t at) {
  std::size_t i = at;
  while (i < css.size()) {
    const char c = css[i];
    if (startsEscape(css, i)) {
      ++i;
      if (std::isxdigit(static_cast<unsigned char>(css[i])) != 0) {
        for (int n = 0; n < 6 && i < css.size() && std::isxdigit(static_cast<unsigned char>(css[i])) != 0; ++n) ++i;
        if (i < css.size() && std::isspace(static_cast<unsigned char>(css[i])) != 0) ++i;
      } else {
        ++i;
      }
    } else if (isCSSNameChar(c)) {
      ++i;
    } else {
      break;
    }
  }
  return i;
}

// Past the unquoted url(...) body starting at `at` (just past the parenthesis), when it is one.
std::size_t unquotedURLEnd(std::string_view css, std::size_t at) {
  std::size_t i = at;
  while (i < css.size() && std::isspace(static_cast<unsigned char>(css[i])) != 0) ++i;
  if (i < css.size() && (css[i] == '"' || css[i] == '\'')) return at;
  for (; i < css.size(); ++i) {
    if (css[i] == '\\') ++i;
    else if (css[i] == ')') return i + 1;
  }
  return css.size();
}

bool namesURL(std::string_view name) {
  if (name.size() > 32) return false;
  std::string plain = EscapeDecoding::cssEscapes(name);
  for (char& c : plain) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return plain == "url";
}

}  // namespace

BlankedScript blankedScriptAndProse(std::string_view script, ScriptKind kind) {
  const bool classic = kind == ScriptKind::classic;
  std::vector<Reading> readings(1);
  std::vector<Span> agreed, agreedProse;
  std::size_t nextCheck = stopStride;
  bool gaveUp = false;
  for (std::size_t i = 0; i < script.size() && !gaveUp; ++i) {
    if (i >= nextCheck) {
      checkpoint();
      nextCheck = i + stopStride;
    }
    const std::size_t count = readings.size();
    for (std::size_t k = 0; k < count; ++k) {
      const Step result = step(readings[k], script, i, classic);
      if (result == Step::dead) readings[k].dead = true;
      if (result == Step::giveUp) gaveUp = true;
      if (result == Step::fork) {
        Reading regex = readings[k];
        regex.mode = Mode::regex;
        readings.push_back(std::move(regex));
      }
    }
    std::erase_if(readings, [](const Reading& r) { return r.dead; });
    // No reading is valid script: the browser runs none of it, and nothing needs hiding.
    if (readings.empty()) return {std::string(script), std::string(script)};
    if (readings.size() > maxReadings) gaveUp = true;
    for (std::size_t a = 0; a + 1 < readings.size(); ++a) {
      for (std::size_t b = readings.size() - 1; b > a; --b) {
        if (!readings[a].sameState(readings[b])) continue;
        readings[a].pending = common(readings[a].pending, readings[b].pending);
        readings[a].prose = common(readings[a].prose, readings[b].prose);
        readings.erase(readings.begin() + static_cast<long>(b));
      }
    }
    if (readings.size() == 1) {
      agreed.insert(agreed.end(), readings[0].pending.begin(), readings[0].pending.end());
      agreedProse.insert(agreedProse.end(), readings[0].prose.begin(), readings[0].prose.end());
      readings[0].pending.clear();
      readings[0].prose.clear();
    }
  }
  if (!gaveUp) {
    // A comment open at the end runs to it; a literal open at the end is no script.
    for (Reading& r : readings)
      if (r.mode == Mode::lineComment || r.mode == Mode::blockComment) r.record(script.size());
    std::vector<Span> everywhere = readings[0].pending, proseEverywhere = readings[0].prose;
    for (std::size_t k = 1; k < readings.size(); ++k) {
      everywhere = common(everywhere, readings[k].pending);
      proseEverywhere = common(proseEverywhere, readings[k].prose);
    }
    agreed.insert(agreed.end(), everywhere.begin(), everywhere.end());
    agreedProse.insert(agreedProse.end(), proseEverywhere.begin(), proseEverywhere.end());
  }
  BlankedScript out{std::string(script), {}};
  for (const Span& span : agreed) blank(out.code, span.from, span.to);
  out.names = out.code;
  for (const Span& span : agreedProse) blank(out.names, span.from, span.to);
  return out;
}

std::string blankedScript(std::string_view script, ScriptKind kind) { return blankedScriptAndProse(script, kind).code; }

std::string blankedStyle(std::string_view css) {
  std::string out(css);
  std::size_t nextCheck = stopStride;
  std::size_t i = 0;
  while (i < css.size()) {
    if (i >= nextCheck) {
      checkpoint();
      nextCheck = i + stopStride;
    }
    const char c = css[i];
    if (c == '"' || c == '\'') {
      i = stringEnd(css, i);
    } else if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
      const std::size_t end = blockCommentEnd(css, i);
      blank(out, i, end);
      i = end;
    } else if (c == '#' || c == '@') {
      i = nameEnd(css, i + 1);  // a hash or an at-keyword, never a function
    } else if (startsEscape(css, i) || isCSSNameChar(c)) {
      // A name; "url(" also when spelled with escapes, as "\75rl(".
      const std::size_t end = nameEnd(css, i);
      if (end < css.size() && css[end] == '(' && namesURL(css.substr(i, end - i))) {
        i = unquotedURLEnd(css, end + 1);
      } else {
        i = std::max(end, i + 1);
      }
    } else {
      ++i;
    }
  }
  return out;
}

}  // namespace kestrane::CodeComments
