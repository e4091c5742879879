#pragma once
// Text helpers for what goes to and comes from the AI model.
#include <string>
#include <string_view>

namespace kestrane::ModelText {

// The first `count` user-perceived characters of text.
std::string prefix(std::string_view text, int count);

// Blanks, tabs and the line breaks (LF to CR, NEL, LS, PS) trimmed from both ends.
std::string_view trim(std::string_view text);

// Control characters other than tab and line feed removed; invalid UTF-8 bytes become U+FFFD.
std::string withoutControls(std::string_view text);

// The number of runs of non-white-space characters.
int wordCount(std::string_view text);

// The deepest a verdict nests its arrays and objects; no answer of the model needs more.
inline constexpr int kDeepestVerdict = 32;

// JSON text whose arrays and objects nest more than `levels` deep (brackets inside strings do
// not count). A cheap scan, so that nothing recursive ever meets a reply nested without end.
bool nestsDeeperThan(std::string_view json, int levels);

}  // namespace kestrane::ModelText
