#pragma once
// Comments in script and CSS text blanked out, so that an address or a call named only in a
// comment is not mistaken for one the page uses. Every character of a comment becomes a blank
// (line breaks stay), so positions in the result match the input. Strings, template literals
// (with their ${...} nesting), regular expressions and unquoted url(...) are read as such, so a
// "//" or "/*" inside them is no comment.
//
// The reader never blanks code the browser would run. Where a slash could open a regular
// expression or divide, both readings are followed, and a comment is blanked only where every
// reading that stays valid script agrees it is one. When the readings cannot be kept apart
// (too many, or nested too deep), the rest of the text stays as it is.
#include <string>
#include <string_view>

namespace kestrane::CodeComments {

// A classic script also reads "<!--" anywhere and "-->" at the start of a line as a line
// comment; a module does not.
enum class ScriptKind { classic, module };

std::string blankedScript(std::string_view script, ScriptKind kind = ScriptKind::classic);

// `code` is blankedScript's result. `names` also has the text of string and template literals
// blanked, where every reading agrees it is one, so that a word in a sentence ("see the fetch
// (x) guide", ["dog", "fetch"]) is not read as a name the script uses. A literal that can name
// what runs stays: a computed member (window["fetch"]) and the arguments of a call that runs a
// string as script (eval, setTimeout, Function...).
struct BlankedScript {
  std::string code;
  std::string names;
};
BlankedScript blankedScriptAndProse(std::string_view script, ScriptKind kind = ScriptKind::classic);

std::string blankedStyle(std::string_view css);

}  // namespace kestrane::CodeComments
