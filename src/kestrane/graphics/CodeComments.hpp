#pragma once
// Comments in script and CSS text blanked out, so that an address or a call named only in a
// comment is not mistaken for one the page uses. Every character of a comment becomes a blank
// (line breaks stay), so positions in the result match the input. Strings, template literals,
// regular expressions and unquoted url(...) are read as such, so a "//" or "/*" inside them is
// no comment. Where a slash could open a regular expression or divide, it is read as a regular
// expression, the reading that blanks less.
#include <string>
#include <string_view>

namespace kestrane::CodeComments {

std::string blankedScript(std::string_view script);

std::string blankedStyle(std::string_view css);

}  // namespace kestrane::CodeComments
