#pragma once
// The spoken words of a Markdown script: the markup around them is not read aloud.
#include <string>
#include <string_view>

namespace kestrane::MarkdownScript {

// The text with headings blanked (ATX "# Title" and underlined titles), thematic breaks
// blanked, and block-quote markers, list markers and emphasis markers (* and _) taken off.
// Every line keeps its place, so line breaks still end script lines. A backslash keeps the
// markup character after it as text.
std::string spokenText(std::string_view markdown);

}  // namespace kestrane::MarkdownScript
