#pragma once
// Text from files, scripts and transcripts, made safe to print: a control character in a file
// name or a script line must not move the cursor, clear the screen or forge a line.
#include <string>
#include <string_view>

namespace kestrane::cli {

// C0 controls and DEL written as \n, \t, \r, \e or \xNN; C1 controls, bidirectional marks
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) and the line and paragraph
// separators as \uNNNN; bytes that are not UTF-8 as \xNN. Everything else, a backslash
// included, passes unchanged.
std::string escaped(std::string_view text);

// The text as one shell word, to paste into a command: as it is when it holds only letters,
// digits and . _ - / + , : @ %, else in single quotes.
std::string shellQuoted(std::string_view text);

}  // namespace kestrane::cli
